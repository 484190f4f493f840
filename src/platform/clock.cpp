// What every system shares: the clock and sleep (the system's own unless a test replaced
// them) and the reading of local calendar times.
#include <chrono>

#include "platform/platform.h"

namespace platform {

namespace {

TimeSource* g_timeSource = nullptr;

}  // namespace

int64_t nowTicks() { return g_timeSource != nullptr ? g_timeSource->nowTicks() : systemNowTicks(); }

int64_t steadyTicks() {
  if (g_timeSource != nullptr) return g_timeSource->steadyTicks();
  using Ticks = std::chrono::duration<int64_t, std::ratio<1, kTicksPerSecond>>;
  return std::chrono::duration_cast<Ticks>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void sleepMillis(unsigned ms) {
  if (g_timeSource != nullptr) {
    g_timeSource->sleepMillis(ms);
  } else {
    systemSleepMillis(ms);
  }
}

void setTimeSourceForTesting(TimeSource* source) { g_timeSource = source; }

int64_t localTimeToSeconds(int year, int month, int day, int hour, int minute, int second) {
  std::tm calendar = {};
  calendar.tm_year = year - 1900;
  calendar.tm_mon = month - 1;
  calendar.tm_mday = day;
  calendar.tm_hour = hour;
  calendar.tm_min = minute;
  calendar.tm_sec = second;
  calendar.tm_isdst = 0;
  return systemMakeTime(calendar);
}

}  // namespace platform
