// Requests to end the process on POSIX systems. One handler serves SIGTERM, SIGINT and SIGHUP:
// it records the signal and wakes a pause through a pipe, or, while a file is being written,
// cleans the file up and ends the process at once. The handler makes async-signal-safe calls
// only, and touches nothing but the variables marked for it.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "platform/interrupt.h"
#include "platform/native_path.h"
#include "platform/platform.h"

namespace platform {

namespace {

const int kEndingSignals[] = {SIGTERM, SIGINT, SIGHUP};
const size_t kEndingSignalCount = sizeof(kEndingSignals) / sizeof(kEndingSignals[0]);

// Read (and g_request written) by the handler.
volatile sig_atomic_t g_recording = 0;  // an InterruptWatch is alive
volatile sig_atomic_t g_request = 0;    // the first signal it recorded
volatile sig_atomic_t g_wakeFd = -1;    // write end of the pipe a pause waits on
volatile sig_atomic_t g_endAtOnce = 0;  // a CleanUpOnTermination is alive
volatile sig_atomic_t g_emptyFd = -1;   // the file it empties, or
char g_removePath[4096];                // the file it removes

// Outside the handler: the pipe's read end, and who needs the handler.
int g_wakeReadFd = -1;
int g_users = 0;
struct sigaction g_previous[kEndingSignalCount];
bool g_handled[kEndingSignalCount];

void onEndingSignal(int signalNumber) {
  const int savedErrno = errno;
  if (g_endAtOnce || !g_recording) {
    if (g_removePath[0] != '\0') unlink(g_removePath);
    if (g_emptyFd >= 0 && ftruncate(g_emptyFd, 0) != 0) {
      // nothing more can be done here
    }
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);  // delivered as this handler returns
  } else {
    if (g_request == 0) g_request = signalNumber;
    if (g_wakeFd >= 0 && write(g_wakeFd, "!", 1) < 0) {
      // the pipe is full: a pause wakes all the same
    }
  }
  errno = savedErrno;
}

// Installs the handler for its first user; a signal ignored then stays ignored. Calls
// interrupted by it are restarted, so that the log and the console lose nothing; the
// pauses and libcurl's waits are cut short anyway.
void startHandling() {
  if (g_users++ > 0) return;
  struct sigaction action;
  std::memset(&action, 0, sizeof(action));
  action.sa_handler = onEndingSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < kEndingSignalCount; ++i) {
    sigaction(kEndingSignals[i], nullptr, &g_previous[i]);
    g_handled[i] = g_previous[i].sa_handler != SIG_IGN;
    if (g_handled[i]) sigaction(kEndingSignals[i], &action, nullptr);
  }
}

// Puts back what was there before the first user, once the last one is done.
void stopHandling() {
  if (--g_users > 0) return;
  for (size_t i = 0; i < kEndingSignalCount; ++i) {
    if (g_handled[i]) sigaction(kEndingSignals[i], &g_previous[i], nullptr);
  }
}

int64_t steadyMillis() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Waits until `fd` is ready for `events`, or has ended, or a request to end the process is
// recorded (false). A wait that fails gives true: the call that follows says why.
bool waitUntilReady(int fd, short events) {
  for (;;) {
    if (interruptRequest() != 0) return false;
    pollfd ends[2] = {{fd, events, 0}, {g_wakeReadFd, POLLIN, 0}};
    const int ready = poll(ends, 2, -1);
    if (ready < 0 && errno != EINTR) return true;
    if (ready > 0 && ends[0].revents != 0) return true;
  }
}

// Writes [data, data + size) to standard output, a pipe's atomic amount at a time, each once
// standard output takes it at once; false when it fails, or a request to end the process
// comes first.
bool writeOut(const char* data, size_t size) {
  while (size > 0) {
    if (!waitUntilReady(STDOUT_FILENO, POLLOUT)) return false;
    const ssize_t put = write(STDOUT_FILENO, data, std::min<size_t>(size, PIPE_BUF));
    if (put < 0 && errno != EINTR && errno != EAGAIN) return false;
    if (put > 0) {
      data += put;
      size -= static_cast<size_t>(put);
    }
  }
  return true;
}

// A buffer for std::cout that writes with writeOut.
class OutputBuffer : public std::streambuf {
 public:
  OutputBuffer() { setp(buffer_, buffer_ + sizeof(buffer_)); }

 protected:
  int_type overflow(int_type c) override {
    if (!writeBuffered()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return writeBuffered() ? 0 : -1; }

 private:
  bool writeBuffered() {
    const bool written = writeOut(pbase(), static_cast<size_t>(pptr() - pbase()));
    setp(buffer_, buffer_ + sizeof(buffer_));
    return written;
  }

  char buffer_[PIPE_BUF];
};

}  // namespace

InterruptibleOutput::InterruptibleOutput() : buffer_(new OutputBuffer) {
  std::cout.flush();
  previous_ = std::cout.rdbuf(buffer_.get());
}

InterruptibleOutput::~InterruptibleOutput() {
  std::cout.flush();
  std::cout.rdbuf(previous_);
}

InterruptWatch::InterruptWatch() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
    g_wakeReadFd = ends[0];
    g_wakeFd = ends[1];
  }
  g_request = 0;
  g_recording = 1;
  startHandling();
}

InterruptWatch::~InterruptWatch() {
  stopHandling();
  g_recording = 0;
  g_request = 0;
  const int writeEnd = g_wakeFd;
  g_wakeFd = -1;
  if (writeEnd >= 0) close(writeEnd);
  if (g_wakeReadFd >= 0) close(g_wakeReadFd);
  g_wakeReadFd = -1;
}

int interruptRequest() { return g_recording ? static_cast<int>(g_request) : 0; }

std::string interruptName(int request) {
  switch (request) {
    case SIGTERM:
      return "SIGTERM";
    case SIGINT:
      return "SIGINT";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "signal " + std::to_string(request);
  }
}

void endAsInterrupted(int request) {
  std::fflush(nullptr);
  signal(request, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, request);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(request);
  _exit(128 + request);  // only if the signal did not end the process
}

// Waits on the watch's pipe, so that a request ends the pause at once, whichever thread the
// signal reached; without a watch, poll waits on nothing and only sleeps.
void systemSleepMillis(unsigned ms) {
  const int64_t end = steadyMillis() + ms;
  for (;;) {
    const int64_t left = end - steadyMillis();
    if (left <= 0 || interruptRequest() != 0) return;
    pollfd wake = {g_wakeReadFd, POLLIN, 0};
    if (poll(&wake, 1, static_cast<int>(left < 60000 ? left : 60000)) > 0) return;
  }
}

bool waitToRead(int fd) { return waitUntilReady(fd, POLLIN); }

CleanUpOnTermination::CleanUpOnTermination(const std::string& localPath) {
  std::string path = fileSystemPath(localPath);
  if (path.size() < sizeof(g_removePath)) std::memcpy(g_removePath, path.c_str(), path.size() + 1);
  startHandling();
  g_endAtOnce = 1;
}

CleanUpOnTermination::CleanUpOnTermination(std::FILE* file) {
  g_emptyFd = file != nullptr ? fileno(file) : -1;
  startHandling();
  g_endAtOnce = 1;
}

CleanUpOnTermination::~CleanUpOnTermination() {
  g_endAtOnce = 0;
  g_emptyFd = -1;
  g_removePath[0] = '\0';
  stopHandling();
}

}  // namespace platform
