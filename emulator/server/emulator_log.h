// The emulator's log: one plain-text line per event, with the local time, to standard
// error or a file, or kept in memory for a test to read. Lines are written whole and flushed
// at once; safe across threads.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class EmulatorLog {
 public:
  // Logs to standard error.
  EmulatorLog() = default;
  EmulatorLog(const EmulatorLog&) = delete;
  EmulatorLog& operator=(const EmulatorLog&) = delete;

  // Appends to the file at `path` from now on; false when it cannot be opened.
  bool openFile(const std::string& path);

  // Keeps the lines, without their time, instead of writing them.
  void keepInMemory();
  std::vector<std::string> keptLines();

  void line(const std::string& text);

 private:
  std::mutex mutex_;
  bool inMemory_ = false;
  std::vector<std::string> kept_;
  struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, FileClose> file_;  // empty means standard error
};
