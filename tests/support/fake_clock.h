// A clock for tests: time stands still except when the code sleeps or a test moves it on. The
// wall clock and the steady clock move together, unless a test steps the wall clock alone.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace testing_support {

// One second of the platform clock, in its 100-nanosecond ticks.
const int64_t kSecond = platform::kTicksPerSecond;

class FakeClock : public platform::TimeSource {
 public:
  explicit FakeClock(int64_t startTicks) : now_(startTicks) {}

  int64_t nowTicks() override { return now_ + wallStep_; }
  int64_t steadyTicks() override { return now_; }
  // Returns at once, having moved the clock on by `ms`.
  void sleepMillis(unsigned ms) override {
    now_ += static_cast<int64_t>(ms) * 10000;
    sleptMs_ += ms;
    ++sleeps_;
  }

  // Safe to call from a test server's thread while the code under test waits for an answer.
  void advanceTicks(int64_t ticks) { now_ += ticks; }
  void advanceMillis(int64_t ms) { now_ += ms * 10000; }
  // Sets the wall clock on by `ticks` (back when negative), as an administrator or a time
  // service might; the steady clock goes on as before.
  void stepWallClock(int64_t ticks) { wallStep_ += ticks; }

  uint64_t sleptMs() const { return sleptMs_; }
  int sleeps() const { return sleeps_; }

 private:
  std::atomic<int64_t> now_;
  std::atomic<int64_t> wallStep_{0};
  std::atomic<uint64_t> sleptMs_{0};
  std::atomic<int> sleeps_{0};
};

// Routes the platform's clock and sleep to `source` for the life of this object.
class ScopedTimeSource {
 public:
  explicit ScopedTimeSource(platform::TimeSource* source) {
    platform::setTimeSourceForTesting(source);
  }
  ~ScopedTimeSource() { platform::setTimeSourceForTesting(nullptr); }
  ScopedTimeSource(const ScopedTimeSource&) = delete;
  ScopedTimeSource& operator=(const ScopedTimeSource&) = delete;
};

// A FakeClock that serves as the platform's clock for its own lifetime.
class FakeTime : public FakeClock {
 public:
  explicit FakeTime(int64_t startTicks) : FakeClock(startTicks), scope_(this) {}

 private:
  ScopedTimeSource scope_;
};

}  // namespace testing_support
