// Requests to end the process: SIGTERM, SIGINT and SIGHUP on POSIX systems; Ctrl-C,
// Ctrl-Break, the console closing, log-off and shut-down on Windows. While a watch is alive
// they are recorded, so that the run can cut its pause or transfer short, write its result
// and then end as the request would have ended it. One implementation file per system
// (interrupt_posix.cpp, interrupt_windows.cpp).
#pragma once

#include <cstdio>
#include <memory>
#include <streambuf>
#include <string>

namespace platform {

// While alive, a request to end the process is recorded instead of ending it, and ends any
// pause of systemSleepMillis at once. A signal the process ignored when the watch began (as
// under nohup) stays ignored. One at a time; a new watch starts with no request recorded.
class InterruptWatch {
 public:
  InterruptWatch();
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;
};

#ifndef _WIN32
// Waits until `fd` has something to read, or its writer left, or a request to end the process
// is recorded (false). Without a watch alive it waits for `fd` alone.
bool waitToRead(int fd);
#endif

// The first request recorded by the watch alive, 0 when none came (or no watch is alive): the
// signal number on POSIX systems, the console event plus one on Windows.
int interruptRequest();

// The name of a request for the log: "SIGTERM", "Ctrl-C", ...
std::string interruptName(int request);

// Ends the process as `request` ends a process that does not handle it: by the signal on POSIX
// systems (a shell sees 128 + its number), with the exit code of a Ctrl-C (0xC000013A) on
// Windows. Standard output and error are flushed first.
[[noreturn]] void endAsInterrupted(int request);

// While alive, what the process writes to standard output through std::cout waits for a slow
// reader only until a request to end the process is recorded, and is dropped from then on: a
// reader that stops reading holds a run up, but cannot keep it from ending. What is left is
// written out when the object ends. On Windows std::cout stays as it is.
class InterruptibleOutput {
 public:
  InterruptibleOutput();
  ~InterruptibleOutput();
  InterruptibleOutput(const InterruptibleOutput&) = delete;
  InterruptibleOutput& operator=(const InterruptibleOutput&) = delete;

 private:
  std::unique_ptr<std::streambuf> buffer_;
  std::streambuf* previous_ = nullptr;
};

// While alive, a request to end the process ends it at once, recorded or not, after removing
// the file `localPath` (a temporary file) or emptying the regular file `file` (written in
// place), so that no part of a file being written stays. One at a time.
class CleanUpOnTermination {
 public:
  explicit CleanUpOnTermination(const std::string& localPath);
  explicit CleanUpOnTermination(std::FILE* file);
  ~CleanUpOnTermination();
  CleanUpOnTermination(const CleanUpOnTermination&) = delete;
  CleanUpOnTermination& operator=(const CleanUpOnTermination&) = delete;
};

}  // namespace platform
