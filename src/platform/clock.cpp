// The clock and sleep every system shares: the system's own, unless a test replaced them.
#include "platform/platform.h"

namespace platform {

namespace {

TimeSource* g_timeSource = nullptr;

}  // namespace

int64_t nowTicks() { return g_timeSource != nullptr ? g_timeSource->nowTicks() : systemNowTicks(); }

void sleepMillis(unsigned ms) {
  if (g_timeSource != nullptr) {
    g_timeSource->sleepMillis(ms);
  } else {
    systemSleepMillis(ms);
  }
}

void setTimeSourceForTesting(TimeSource* source) { g_timeSource = source; }

}  // namespace platform
