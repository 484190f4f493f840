// The process-wide transport session for tests that make requests, as the program has one.
#pragma once

namespace testing_support {

// Opens a TransportSession for the rest of the process the first time (libcurl's global
// state with it); later calls do nothing.
void initCurlGlobal();

}  // namespace testing_support
