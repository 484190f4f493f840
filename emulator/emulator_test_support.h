// Helpers for the emulator's tests: requests signed by the client's own signer.
#pragma once

#include <curl/curl.h>

#include <string>

#include "credentials/gateway_signer.h"
#include "emulator_request.h"
#include "run/translate_job.h"

namespace emulator_test {

// A job as a gateway-mode client holds it.
inline TranslateJob gatewayJob(const std::string& projectId = "") {
  TranslateJob job;
  job.appKey = "key-1";
  job.appSecret = "secret+/=&1";
  job.tenantId = "tenant-7";
  job.projectId = projectId;
  return job;
}

// `method` `target` with the headers that the client's addGatewayHeaders gives it at the
// platform clock's current time. Lines with an empty value are left out, as libcurl does.
inline EmulatorRequest clientSigned(const std::string& method, const std::string& target,
                                    const QueryMap& query, const TranslateJob& job) {
  EmulatorRequest request;
  request.method = method;
  request.target = target;
  HeaderList lines;
  addGatewayHeaders(job, "http://127.0.0.1:8080" + target, method, query, lines);
  for (curl_slist* line = lines.head(); line != nullptr; line = line->next) {
    std::string text = line->data;
    size_t colon = text.find(':');
    if (colon + 1 < text.size())
      request.headers.emplace_back(text.substr(0, colon), text.substr(colon + 1));
  }
  return request;
}

// `request` with the header `name` set to `value` (added when absent, removed when empty).
inline EmulatorRequest withHeader(EmulatorRequest request, const std::string& name,
                                  const std::string& value) {
  for (auto it = request.headers.begin(); it != request.headers.end(); ++it) {
    if (it->first == name) {
      if (value.empty()) {
        request.headers.erase(it);
      } else {
        it->second = value;
      }
      return request;
    }
  }
  if (!value.empty()) request.headers.emplace_back(name, value);
  return request;
}

}  // namespace emulator_test
