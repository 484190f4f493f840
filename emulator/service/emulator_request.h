// The raw-text helpers that read a request without decoding it: the client sends query
// parameters and form fields unencoded, so "+", "/" and "=" must reach the checks exactly as
// they were sent.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "server/emulator_response.h"
#include "server/recorded_request.h"

// Name-to-value parameters, ordered byte-wise by name.
using ParameterMap = std::map<std::string, std::string>;

// Parameters of a raw query or form text: pieces split at "&", each at its first "=";
// a piece without "=" is a name with an empty value. Nothing is decoded; the first
// occurrence of a name counts; empty pieces are skipped.
ParameterMap parseRawParameters(const std::string& text);

// The value of the first parameter `name` of a raw query or form text, read as
// parseRawParameters reads it, without building the map; "" when there is none.
std::string rawParameter(const std::string& text, const std::string& name);

// The token of an "Authorization" value "<scheme> <token>" (scheme compared without
// regard to case); false when the value has another scheme.
bool takeCredential(const std::string& authorization, const std::string& scheme,
                    std::string& token);

// A file id written as decimal text with an optional "-", at most 18 digits.
bool parseFileId(const std::string& text, int64_t& id);

// The integer "source"."fileId" of a translate request's body, a JSON object (up to its first
// NUL, nested at most 256 deep), read without building a document.
bool commitFileId(const std::string& body, int64_t& id);

// The "fileId" parameter of a status request's raw query.
bool statusFileId(const std::string& query, int64_t& id);

// Standard Base64 of `bytes` with padding, on one line.
std::string encodeBase64(const std::string& bytes);
