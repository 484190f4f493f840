// The operating-system services the client needs, behind one small interface.
// Only platform_posix.cpp includes system headers for these jobs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// Full path of the running program; `argv0` when the system cannot tell.
std::string programPath(const char* argv0);

// Separator between the directory and the name in a path.
extern const char kPathSeparator[];

// True when something exists at `path`.
bool pathExists(const std::string& path);

// Creates the directory `path` (mode 0755); failure is silently ignored.
void makeDirectory(const std::string& path);

// True when `path` is a directory in which this process may create files.
bool isWritableDirectory(const std::string& path);

// Wall clock: 100-nanosecond ticks since 1970-01-01 00:00:00 UTC.
int64_t nowTicks();
const int64_t kTicksPerSecond = 10000000;

// Blocks the calling thread for `ms` milliseconds.
void sleepMillis(unsigned ms);

// Replaceable source of time, so tests need not wait for minutes.
class TimeSource {
 public:
  virtual ~TimeSource() = default;
  virtual int64_t nowTicks() = 0;
  virtual void sleepMillis(unsigned ms) = 0;
};

// Routes nowTicks and sleepMillis to `source`; nullptr restores the real clock.
void setTimeSourceForTesting(TimeSource* source);

// ASCII case-insensitive equality; bytes outside A-Z/a-z must match exactly.
bool equalsIgnoreCase(const std::string& a, const std::string& b);

// Seconds since the epoch of a local calendar time taken as standard time
// (no daylight saving), or -1 when it cannot be represented.
int64_t localTimeToSeconds(int year, int month, int day, int hour, int minute, int second);

// A new random UUID: 36 characters, lower-case hexadecimal, hyphens after 8, 12, 16, 20 digits.
std::string makeUuid();

// Converts `in` between two character sets known to iconv, failing on any
// character that is malformed or has no form in the target. Returns false and clears `out` on
// failure.
bool convertCharset(const char* from, const char* to, const std::string& in, std::string& out);

// Opens for writing (created or truncated) a file whose path is held in the local
// code page; nullptr when the path has no file-system form or the open fails.
std::FILE* openForWriting(const std::string& localPath);

}  // namespace platform
