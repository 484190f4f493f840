// The process-wide transport session for tests that make requests.
#include "support/curl_global.h"

#include "transport/http_exchange.h"

namespace testing_support {

void initCurlGlobal() {
  // Never ended: the tests' requests may come until the process exits.
  static TransportSession* session = new TransportSession;
  (void)session;
}

}  // namespace testing_support
