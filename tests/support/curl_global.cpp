// libcurl's process-wide state for tests that make requests.
#include "support/curl_global.h"

#include <curl/curl.h>

#include <mutex>

namespace testing_support {

void initCurlGlobal() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

}  // namespace testing_support
