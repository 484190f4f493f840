// What every system shares: the clock and sleep (the system's own unless a test replaced
// them), the reading of local calendar times, and looking at files through std::filesystem.
#include <cctype>
#include <chrono>
#include <filesystem>

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

namespace {

bool isHashName(const std::string& name) {
  const size_t dot = name.find('.');
  if (dot != 8 || dot + 1 == name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (i < 8 ? !std::isxdigit(c) : i > 8 && !std::isdigit(c)) return false;
  }
  return true;
}

}  // namespace

bool holdsHashedCertificates(const std::string& path) {
  std::error_code error;
  for (std::filesystem::directory_iterator it(path, error), end; !error && it != end;
       it.increment(error)) {
    if (isHashName(it->path().filename().string())) return true;
  }
  return false;
}

bool changedAfter(const std::string& path, const std::string& other) {
  std::error_code error;
  const auto changed = std::filesystem::last_write_time(path, error);
  if (error) return false;
  const auto otherChanged = std::filesystem::last_write_time(other, error);
  return !error && changed > otherChanged;
}

}  // namespace platform
