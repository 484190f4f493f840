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

// The client's own header lines of `request` with each gateway line ("x-ca-...",
// "x-project-id", "x-tenant-id") cut to its name, as its value changes with every request.
inline std::vector<std::string> ownHeaderShape(const RecordedRequest& request) {
  std::vector<std::string> lines = ownHeaderLines(request);
  for (std::string& line : lines) {
    if (line.rfind("x-ca-", 0) == 0 || line.rfind("x-project-id:", 0) == 0 ||
        line.rfind("x-tenant-id:", 0) == 0) {
      line = line.substr(0, line.find(':'));
    }
  }
  return lines;
}

// The shape of a request signed for the gateway: `fixedLines`, then the seven gateway lines
// in the order the signer appends them.
inline std::vector<std::string> signedShape(std::vector<std::string> fixedLines) {
  for (const char* name : {"x-ca-key", "x-ca-nonce", "x-ca-signature", "x-ca-signature-headers",
                           "x-ca-timestamp", "x-project-id", "x-tenant-id"}) {
    fixedLines.push_back(name);
  }
  return fixedLines;
}

}  // namespace testing_support
