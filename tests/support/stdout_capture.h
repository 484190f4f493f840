// Collects what the code under test writes to std::cout.
#pragma once

#include <iostream>
#include <sstream>
#include <string>

namespace testing_support {

// Redirects std::cout into a string for the life of this object.
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

}  // namespace testing_support
