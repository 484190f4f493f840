// Answer texts of the service's envelope and a calendar-anchored clock start, for the tests
// of the token, commit and status requests.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

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

}  // namespace testing_support
