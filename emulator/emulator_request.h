// The emulator's answer to a request, and the raw-text helpers that read a request without
// decoding it: the client sends query parameters and form fields unencoded, so "+", "/" and
// "=" must reach the checks exactly as they were sent.
#pragma once

#include <map>
#include <string>

#include "recorded_request.h"

struct EmulatorResponse {
  int status = 200;
  std::string body;  // JSON
};

// Name-to-value parameters, ordered byte-wise by name.
using ParameterMap = std::map<std::string, std::string>;

// Parameters of a raw query or form text: pieces split at "&", each at its first "=";
// a piece without "=" is a name with an empty value. Nothing is decoded; the first
// occurrence of a name counts; empty pieces are skipped.
ParameterMap parseRawParameters(const std::string& text);

// The token of an "Authorization" value "<scheme> <token>" (scheme compared without
// regard to case); false when the value has another scheme.
bool takeCredential(const std::string& authorization, const std::string& scheme,
                    std::string& token);

// Standard Base64 of `bytes` with padding, on one line.
std::string encodeBase64(const std::string& bytes);
