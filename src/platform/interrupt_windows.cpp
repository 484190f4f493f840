// Requests to end the process on Windows. The system runs a console control handler on a
// thread of its own: it records the event and sets an event object that a pause waits on, or,
// while a file is being written, cleans the file up and lets the system end the process.
#include <windows.h>
// After windows.h, which they build on.
#include <io.h>

#include <cstdio>
#include <cstring>

#include "platform/interrupt.h"
#include "platform/native_path.h"
#include "platform/platform.h"

namespace platform {

namespace {

const UINT kControlCExit = 0xC000013A;  // STATUS_CONTROL_C_EXIT

volatile LONG g_recording = 0;                // an InterruptWatch is alive
volatile LONG g_request = 0;                  // the first event it recorded, plus one
volatile LONG g_endAtOnce = 0;                // a CleanUpOnTermination is alive
HANDLE g_emptyHandle = INVALID_HANDLE_VALUE;  // the file it empties, or
wchar_t g_removePath[32768];                  // the file it removes
HANDLE g_wake = nullptr;  // set by a request, waited on by a pause; made once, never closed
int g_users = 0;

BOOL WINAPI onConsoleEvent(DWORD event) {
  if (g_endAtOnce || !g_recording) {
    if (g_removePath[0] != L'\0') DeleteFileW(g_removePath);
    if (g_emptyHandle != INVALID_HANDLE_VALUE) {
      LARGE_INTEGER start = {};
      if (SetFilePointerEx(g_emptyHandle, start, nullptr, FILE_BEGIN)) SetEndOfFile(g_emptyHandle);
    }
    return FALSE;  // the next handler, in the end the system's, ends the process
  }
  InterlockedCompareExchange(&g_request, static_cast<LONG>(event) + 1, 0);
  SetEvent(g_wake);
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  // After the console closing, log-off or shut-down the system ends the process as soon as
  // this returns; the run ends itself first (endAsInterrupted) in the time the system allows.
  Sleep(INFINITE);
  return TRUE;
}

void startHandling() {
  if (g_users++ == 0) SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void stopHandling() {
  if (--g_users == 0) SetConsoleCtrlHandler(onConsoleEvent, FALSE);
}

}  // namespace

InterruptWatch::InterruptWatch() {
  if (g_wake == nullptr) g_wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ResetEvent(g_wake);
  g_request = 0;
  g_recording = 1;
  startHandling();
}

InterruptWatch::~InterruptWatch() {
  stopHandling();
  g_recording = 0;
  g_request = 0;
  ResetEvent(g_wake);
}

int interruptRequest() { return g_recording ? static_cast<int>(g_request) : 0; }

std::string interruptName(int request) {
  switch (request - 1) {
    case CTRL_C_EVENT:
      return "Ctrl-C";
    case CTRL_BREAK_EVENT:
      return "Ctrl-Break";
    case CTRL_CLOSE_EVENT:
      return "the console closing";
    case CTRL_LOGOFF_EVENT:
      return "log-off";
    case CTRL_SHUTDOWN_EVENT:
      return "shut-down";
    default:
      return "console event " + std::to_string(request - 1);
  }
}

void endAsInterrupted(int) {
  std::fflush(nullptr);
  ExitProcess(kControlCExit);
}

void systemSleepMillis(unsigned ms) {
  if (g_recording && g_wake != nullptr) {
    WaitForSingleObject(g_wake, ms);
  } else {
    Sleep(ms);
  }
}

CleanUpOnTermination::CleanUpOnTermination(const std::string& localPath) {
  std::wstring path = widePath(localPath);
  if (path.size() < sizeof(g_removePath) / sizeof(wchar_t)) {
    std::memcpy(g_removePath, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
  }
  startHandling();
  g_endAtOnce = 1;
}

CleanUpOnTermination::CleanUpOnTermination(std::FILE* file) {
  g_emptyHandle = file != nullptr ? reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))
                                  : INVALID_HANDLE_VALUE;
  startHandling();
  g_endAtOnce = 1;
}

CleanUpOnTermination::~CleanUpOnTermination() {
  g_endAtOnce = 0;
  g_emptyHandle = INVALID_HANDLE_VALUE;
  g_removePath[0] = L'\0';
  stopHandling();
}

InterruptibleOutput::InterruptibleOutput() {}

InterruptibleOutput::~InterruptibleOutput() {}

}  // namespace platform
