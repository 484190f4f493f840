// A private trust store for the tests: the system's CA directory as this process sees it
// from now on, with one more CA added, while the machine's own store stays untouched.
// Linux only; it takes the right to make a mount namespace (root, as in CI).
#pragma once

#include <string>

#include "support/test_certificates.h"

namespace testing_support {

class PrivateTrustStore {
 public:
  // Copies /etc/ssl/certs, adds `ca` to the copy (as a file with its subject-hash link, and
  // at the end of the bundle), and binds the copy over /etc/ssl/certs in a mount namespace
  // of this thread's own, which the threads and processes it starts from now on inherit.
  explicit PrivateTrustStore(const TestCertificate& ca);
  ~PrivateTrustStore();
  PrivateTrustStore(const PrivateTrustStore&) = delete;
  PrivateTrustStore& operator=(const PrivateTrustStore&) = delete;

  // True when the store is in place; otherwise why() says what was missing.
  bool active() const { return why_.empty(); }
  const std::string& why() const { return why_; }

 private:
  std::string copy_;
  std::string why_;
};

}  // namespace testing_support
