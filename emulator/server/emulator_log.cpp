// Timestamped log lines for the emulator.
#include "server/emulator_log.h"

#include <chrono>

#include "server/local_time.h"

bool EmulatorLog::openFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "ab");  // the same line ends on every system
  if (file == nullptr) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  file_.reset(file);
  return true;
}

void EmulatorLog::discard() {
  std::lock_guard<std::mutex> lock(mutex_);
  discarding_ = true;
}

void EmulatorLog::line(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (discarding_) return;
  }
  using namespace std::chrono;
  const int64_t millis =
      duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  const std::string stamp = localTimeText(static_cast<std::time_t>(millis / 1000));
  std::lock_guard<std::mutex> lock(mutex_);
  std::FILE* out = file_ ? file_.get() : stderr;
  std::fprintf(out, "%s.%03d %s\n", stamp.c_str(), static_cast<int>(millis % 1000), text.c_str());
  std::fflush(out);
}
