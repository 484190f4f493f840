// Shared pieces of the tests of the token, commit and status requests: answer texts of the
// service's envelope, a calendar-anchored clock start and a look at the header lines sent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/test_server.h"

namespace testing_support {

// {"code":"success","message":"ok","data":{"token":<token>,"expireTime":<expireTime>}}
inline std::string tokenAnswer(const std::string& token, const std::string& expireTime) {
  return "{\"code\":\"success\",\"message\":\"ok\",\"data\":{\"token\":\"" + token +
         "\",\"expireTime\":\"" + expireTime + "\"}}";
}

// {"code":"success","data":{"status":<status>}}
inline std::string statusAnswer(const std::string& status) {
  return "{\"code\":\"success\",\"data\":{\"status\":\"" + status + "\"}}";
}

// Ticks of 2030-01-01 08:00:00 local standard time plus `seconds`: the tests' clock start,
// so that "expireTime" texts and the clock agree whatever the time zone.
inline int64_t ticksAtNewYear2030(int64_t seconds = 0) {
  return (platform::localTimeToSeconds(2030, 1, 1, 8, 0, 0) + seconds) * 10000000;
}

// The header lines the client itself put into `request`, in order: all but the lines
// that libcurl adds on its own (Host, Accept, Content-Length).
inline std::vector<std::string> ownHeaderLines(const RecordedRequest& request) {
  std::vector<std::string> lines;
  for (const std::string& line : request.headers) {
    if (line.rfind("Host:", 0) == 0 || line.rfind("Accept:", 0) == 0 ||
        line.rfind("Content-Length:", 0) == 0) {
      continue;
    }
    lines.push_back(line);
  }
  return lines;
}

// True for the lines the gateway signer appends ("x-ca-...", "x-project-id", "x-tenant-id").
inline bool isGatewayLine(const std::string& line) {
  return line.rfind("x-ca-", 0) == 0 || line.rfind("x-project-id:", 0) == 0 ||
         line.rfind("x-tenant-id:", 0) == 0;
}

}  // namespace testing_support
