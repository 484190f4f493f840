// A clock that only moves when the code under test sleeps (or the test advances it).
#pragma once

#include <vector>

#include "platform/platform.h"

namespace testing_support {

class FakeTime : public platform::TimeSource {
 public:
  explicit FakeTime(int64_t startTicks = 17000000000000000) : now_(startTicks) {
    platform::setTimeSourceForTesting(this);
  }
  ~FakeTime() override { platform::setTimeSourceForTesting(nullptr); }

  int64_t nowTicks() override { return now_; }
  void sleepMillis(unsigned ms) override {
    sleeps.push_back(ms);
    now_ += static_cast<int64_t>(ms) * 10000 + extraTicksPerSleep;
  }
  void advanceTicks(int64_t ticks) { now_ += ticks; }

  std::vector<unsigned> sleeps;
  int64_t extraTicksPerSleep = 0;  // time a transfer "takes" after each sleep

 private:
  int64_t now_;
};

}  // namespace testing_support
