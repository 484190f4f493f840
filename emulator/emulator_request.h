// A request as the emulator received it, its answer, and the raw-text helpers that read
// a request without decoding it: the client sends query parameters and form fields
// unencoded, so "+", "/" and "=" must reach the checks exactly as they were sent.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "credentials/gateway_signer.h"

struct EmulatorRequest {
  std::string method;
  std::string target;  // the request target as sent: path and query, undecoded
  std::vector<std::pair<std::string, std::string>> headers;  // in arrival order
  std::string body;

  // The value of the first header named `name` (ASCII case-insensitive), "" when absent.
  std::string header(const std::string& name) const;
  bool hasHeader(const std::string& name) const;
  std::string path() const;   // target up to the first "?"
  std::string query() const;  // target after the first "?", or ""
};

struct EmulatorResponse {
  int status = 200;
  std::string body;             // JSON
  bool dropConnection = false;  // close the connection instead of answering
};

// Parameters of a raw query or form text: pieces split at "&", each at its first "=";
// a piece without "=" is a name with an empty value. Nothing is decoded; the first
// occurrence of a name counts; empty pieces are skipped.
QueryMap parseRawParameters(const std::string& text);

// The token of an "Authorization" value "<scheme> <token>" (scheme compared without
// regard to case); false when the value has another scheme.
bool takeCredential(const std::string& authorization, const std::string& scheme,
                    std::string& token);
