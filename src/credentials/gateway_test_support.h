// Helpers for the tests of the gateway requests: libcurl's global state, a captured
// standard output and a fixed clock whose pauses return at once.
#pragma once

#include <curl/curl.h>

#include <iostream>
#include <sstream>
#include <string>

#include "platform/platform.h"

namespace gateway_test {

// Sets up libcurl's global state once per test process, as the run does before requests.
inline void initCurlOnce() {
  static const CURLcode result = curl_global_init(CURL_GLOBAL_ALL);
  (void)result;
}

// Collects what is written to std::cout while it lives.
class StdoutCapture {
 public:
  StdoutCapture() : saved_(std::cout.rdbuf(captured_.rdbuf())) {}
  ~StdoutCapture() { std::cout.rdbuf(saved_); }
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;
  std::string text() const { return captured_.str(); }

 private:
  std::ostringstream captured_;
  std::streambuf* saved_;
};

// A clock standing at 1700000000123 ms (2023-11-14) whose pauses return at once and are
// counted; the real clock comes back when it ends.
class FixedClock : public platform::TimeSource {
 public:
  FixedClock() { platform::setTimeSourceForTesting(this); }
  ~FixedClock() override { platform::setTimeSourceForTesting(nullptr); }
  int64_t nowTicks() override { return 17000000001234567; }
  void sleepMillis(unsigned) override { ++pauses; }
  int pauses = 0;
};

}  // namespace gateway_test
