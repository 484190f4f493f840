// The emulator's log: one plain-text line per event, with the local time, to standard
// error or a file, or nowhere for a test's server. Lines are written whole and flushed
// at once; safe across threads.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

class EmulatorLog {
 public:
  // Logs to standard error.
  EmulatorLog() = default;
  EmulatorLog(const EmulatorLog&) = delete;
  EmulatorLog& operator=(const EmulatorLog&) = delete;

  // Appends to the file at `path` from now on; false when it cannot be opened.
  bool openFile(const std::string& path);

  // Writes no line from now on: a test learns how its connections ended from the server.
  void discard();

  void line(const std::string& text);

 private:
  std::mutex mutex_;
  bool discarding_ = false;
  struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, FileClose> file_;  // empty means standard error
};
