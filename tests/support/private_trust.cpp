// A private trust store: a copy of the CA directory bound over it in a mount namespace.
#include "support/private_trust.h"

#include <openssl/x509.h>
#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "support/file_util.h"

namespace testing_support {

namespace {

const char kCaDirectory[] = "/etc/ssl/certs";

// The name OpenSSL's directory lookup looks for: the subject hash, ".0".
std::string hashLinkName(X509* ca) {
  char name[16];
  std::snprintf(name, sizeof(name), "%08lx.0", X509_subject_name_hash(ca));
  return name;
}

}  // namespace

PrivateTrustStore::PrivateTrustStore(const TestCertificate& ca) : copy_(makeTempDir() + "/certs") {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::copy(kCaDirectory, copy_, fs::copy_options::recursive | fs::copy_options::copy_symlinks,
           error);
  const std::string caFile = copy_ + "/marlune-test-ca.pem";
  if (error || !writePem(ca, caFile, "")) {
    why_ = "cannot copy " + std::string(kCaDirectory);
    return;
  }
  const std::string caPem = readFile(caFile);
  fs::create_symlink("marlune-test-ca.pem", copy_ + "/" + hashLinkName(ca.cert.get()), error);
  // Written anew, never through a link into the machine's own store.
  const std::string bundle = copy_ + "/ca-certificates.crt";
  const std::string certificates = readFile(bundle);
  fs::remove(bundle, error);
  writeFile(bundle, certificates + caPem);
  if (unshare(CLONE_NEWNS) != 0 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount(copy_.c_str(), kCaDirectory, nullptr, MS_BIND, nullptr) != 0) {
    why_ = std::string("no private mount namespace here: ") + std::strerror(errno);
  }
}

PrivateTrustStore::~PrivateTrustStore() {
  if (active()) umount2(kCaDirectory, MNT_DETACH);
  removeTree(copy_.substr(0, copy_.rfind('/')));
}

}  // namespace testing_support
