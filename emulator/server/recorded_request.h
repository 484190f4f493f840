// A request as a server received it: the method, the raw request target and the header
// lines exactly as they arrived. The emulator reads requests through it, and so do the
// tests' scripted servers, which check the client's wire format byte for byte.
#pragma once

#include <string>
#include <vector>

struct RecordedRequest {
  std::string method;
  std::string target;                // path and query as sent, undecoded
  std::vector<std::string> headers;  // "Name:value" lines in arrival order, without CRLF
  std::string body;

  // The value of the first header named `name` (ASCII case-insensitive), blanks after the
  // colon skipped; "" when absent.
  std::string header(const std::string& name) const;
  bool hasHeader(const std::string& name) const;
  std::string path() const;   // target up to the first "?"
  std::string query() const;  // target after the first "?", or ""
};
