// Timestamped log lines for the emulator.
#include "emulator_log.h"

#include <sys/time.h>

#include <ctime>

bool EmulatorLog::openFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "a");
  if (file == nullptr) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  file_.reset(file);
  return true;
}

void EmulatorLog::line(const std::string& text) {
  timeval now{};
  gettimeofday(&now, nullptr);
  std::tm local{};
  localtime_r(&now.tv_sec, &local);
  char stamp[32];
  std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &local);
  std::lock_guard<std::mutex> lock(mutex_);
  std::FILE* out = file_ ? file_.get() : stderr;
  std::fprintf(out, "%s.%03d %s\n", stamp, static_cast<int>(now.tv_usec / 1000), text.c_str());
  std::fflush(out);
}
