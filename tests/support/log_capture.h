// Collects the log lines written while the object lives.
#pragma once

#include <glog/logging.h>

#include <mutex>
#include <string>
#include <vector>

namespace testing_support {

struct LogLine {
  google::LogSeverity severity;
  std::string file;
  int line;
  std::string text;
};

class LogCapture : public google::LogSink {
 public:
  LogCapture() { google::AddLogSink(this); }
  ~LogCapture() override { google::RemoveLogSink(this); }

  void send(google::LogSeverity severity, const char* /*full_filename*/, const char* base_filename,
            int line, const struct ::tm* /*tm_time*/, const char* message,
            size_t message_len) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back({severity, base_filename, line, std::string(message, message_len)});
  }

  std::vector<LogLine> lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

  // How many of the lines hold `part`.
  size_t count(const std::string& part) const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const LogLine& line : lines_) n += line.text.find(part) != std::string::npos ? 1 : 0;
    return n;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<LogLine> lines_;
};

}  // namespace testing_support
