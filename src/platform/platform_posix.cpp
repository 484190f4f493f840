// POSIX implementation of the platform layer.
#include "platform/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <cstring>
#include <memory>

namespace platform {

const char kPathSeparator[] = "/";

namespace {

TimeSource* g_timeSource = nullptr;

// Name the file system uses for the local code page's texts.
const char kLocalCodePage[] = "CP936";
const char kFileSystemCharset[] = "UTF-8";

struct IconvCloser {
  void operator()(iconv_t cd) const { iconv_close(cd); }
};

}  // namespace

std::string programPath(const char* argv0) {
  char buffer[4096];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (length <= 0) return argv0 != nullptr ? std::string(argv0) : std::string();
  return std::string(buffer, static_cast<size_t>(length));
}

bool pathExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

void makeDirectory(const std::string& path) { mkdir(path.c_str(), 0755); }

bool isWritableDirectory(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  return faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

int64_t nowTicks() {
  if (g_timeSource != nullptr) return g_timeSource->nowTicks();
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 10000000 + now.tv_nsec / 100;
}

void sleepMillis(unsigned ms) {
  if (g_timeSource != nullptr) {
    g_timeSource->sleepMillis(ms);
    return;
  }
  struct timespec pause = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

void setTimeSourceForTesting(TimeSource* source) { g_timeSource = source; }

bool equalsIgnoreCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

int64_t localTimeToSeconds(int year, int month, int day, int hour, int minute, int second) {
  struct tm calendar;
  std::memset(&calendar, 0, sizeof(calendar));
  calendar.tm_year = year - 1900;
  calendar.tm_mon = month - 1;
  calendar.tm_mday = day;
  calendar.tm_hour = hour;
  calendar.tm_min = minute;
  calendar.tm_sec = second;
  calendar.tm_isdst = 0;
  time_t seconds = mktime(&calendar);
  return seconds == static_cast<time_t>(-1) ? -1 : static_cast<int64_t>(seconds);
}

std::string makeUuid() {
  uuid_t uuid;
  uuid_generate_random(uuid);
  char text[37];
  uuid_unparse_lower(uuid, text);
  return std::string(text, 36);
}

bool convertCharset(const char* from, const char* to, const std::string& in, std::string& out) {
  out.clear();
  if (in.empty()) return true;
  iconv_t raw = iconv_open(to, from);
  if (raw == reinterpret_cast<iconv_t>(-1)) return false;
  std::unique_ptr<void, IconvCloser> cd(raw);

  char* inPtr = const_cast<char*>(in.data());
  size_t inLeft = in.size();
  std::string converted(in.size() + in.size() / 2 + 16, '\0');
  size_t used = 0;
  for (;;) {
    char* outPtr = &converted[used];
    size_t outLeft = converted.size() - used;
    size_t rc = iconv(raw, &inPtr, &inLeft, &outPtr, &outLeft);
    int error = errno;
    used = converted.size() - outLeft;
    if (rc != static_cast<size_t>(-1)) break;  // everything read
    if (error != E2BIG) return false;
    converted.resize(converted.size() * 2);
  }
  // Flush any shift state; the charsets used here have none, so this writes nothing.
  char* outPtr = &converted[used];
  size_t outLeft = converted.size() - used;
  if (iconv(raw, nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1)) return false;
  converted.resize(converted.size() - outLeft);
  out.swap(converted);
  return true;
}

std::FILE* openForWriting(const std::string& localPath) {
  std::string fileSystemPath;
  if (localPath.empty() ||
      !convertCharset(kLocalCodePage, kFileSystemCharset, localPath, fileSystemPath)) {
    return nullptr;
  }
  return std::fopen(fileSystemPath.c_str(), "w");
}

}  // namespace platform
