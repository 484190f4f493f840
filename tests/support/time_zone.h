// The test process's own time zone, for local-time conversions (the TZ variable).
#pragma once

#include <stdlib.h>
#include <time.h>

#include <string>

namespace testing_support {

// Sets TZ to `zone` ("" removes it) and makes the C library read it again.
inline void setTimeZone(const std::string& zone) {
#ifdef _WIN32
  _putenv_s("TZ", zone.c_str());
  _tzset();
#else
  if (zone.empty()) {
    unsetenv("TZ");
  } else {
    setenv("TZ", zone.c_str(), 1);
  }
  tzset();
#endif
}

}  // namespace testing_support
