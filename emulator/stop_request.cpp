// Stop requests, as each system delivers them.
#include "stop_request.h"

#ifdef _WIN32

#include <windows.h>

#include <condition_variable>
#include <mutex>

namespace {

std::mutex g_mutex;
std::condition_variable g_stopped;
std::string g_reason;

void stopWith(const std::string& reason) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_reason.empty()) g_reason = reason;
  g_stopped.notify_all();
}

BOOL WINAPI onConsoleEvent(DWORD event) {
  stopWith("console event " + std::to_string(event));
  return TRUE;
}

}  // namespace

void catchStopRequests() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

std::string waitForStopRequest() {
  std::unique_lock<std::mutex> lock(g_mutex);
  g_stopped.wait(lock, [] { return !g_reason.empty(); });
  return g_reason;
}

void requestStop() { stopWith("request"); }

#else

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace {

sigset_t stopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  return signals;
}

}  // namespace

// The signals are taken by sigwait; every thread started later inherits the mask.
void catchStopRequests() {
  sigset_t signals = stopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

std::string waitForStopRequest() {
  sigset_t signals = stopSignals();
  int signalNumber = 0;
  sigwait(&signals, &signalNumber);
  return "signal " + std::to_string(signalNumber);
}

void requestStop() { kill(getpid(), SIGTERM); }

#endif
