// libcurl's process-wide state for tests that make requests (the run sets it up in the program).
#pragma once

namespace testing_support {

// Calls curl_global_init(CURL_GLOBAL_ALL) the first time; later calls do nothing.
void initCurlGlobal();

}  // namespace testing_support
