// Helpers for the emulator's tests: requests signed by the client's own signer.
#pragma once

#include <string>
#include <vector>

#include "credentials/gateway_signer.h"
#include "server/recorded_request.h"

namespace emulator_test {

// The identity a gateway-mode client signs with.
inline GatewayIdentity gatewayIdentity(const std::string& projectId = "") {
  return GatewayIdentity{"key-1", "secret+/=&1", "tenant-7", projectId};
}

// `method` `target` with the header lines that the client's addGatewayHeaders gives it at
// the platform clock's current time. Lines with an empty value are left out, as libcurl does.
inline RecordedRequest clientSigned(const std::string& method, const std::string& target,
                                    const QueryMap& query, const GatewayIdentity& identity) {
  RecordedRequest request;
  request.method = method;
  request.target = target;
  std::vector<std::string> lines;
  addGatewayHeaders(identity, "http://127.0.0.1:8080" + target, method, query, lines);
  for (const std::string& line : lines) {
    if (line.back() != ':') request.headers.push_back(line);
  }
  return request;
}

// `request` with the header `name` set to `value` (added when absent, removed when empty).
inline RecordedRequest withHeader(RecordedRequest request, const std::string& name,
                                  const std::string& value) {
  for (auto it = request.headers.begin(); it != request.headers.end(); ++it) {
    if (it->compare(0, name.size() + 1, name + ":") == 0) {
      if (value.empty()) {
        request.headers.erase(it);
      } else {
        *it = name + ":" + value;
      }
      return request;
    }
  }
  if (!value.empty()) request.headers.push_back(name + ":" + value);
  return request;
}

}  // namespace emulator_test
