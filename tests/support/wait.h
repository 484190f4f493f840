// Waiting in a test for what another thread or process does.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace testing_support {

// Checks `condition` every `step` until it holds or `limit` has passed; whether it held.
inline bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit,
                      std::chrono::milliseconds step = std::chrono::milliseconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(step);
  }
}

}  // namespace testing_support
