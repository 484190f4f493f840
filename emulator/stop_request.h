// How the emulator learns that it should stop: SIGTERM or SIGINT on POSIX systems; Ctrl-C,
// Ctrl-Break or the console closing on Windows.
#pragma once

#include <string>

// Takes over the stop requests; call before starting any thread.
void catchStopRequests();

// Blocks until a stop request comes, or requestStop() is called; says which, for the log
// ("signal 15", "console event 1", "request").
std::string waitForStopRequest();

// Wakes waitForStopRequest from another thread.
void requestStop();
