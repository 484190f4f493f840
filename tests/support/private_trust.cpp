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

// The subject hash under which OpenSSL's directory lookup looks for `ca` ("<hash>.<n>").
std::string hashOf(X509* ca) {
  char hash[16];
  std::snprintf(hash, sizeof(hash), "%08lx", X509_subject_name_hash(ca));
  return hash;
}

}  // namespace

PrivateTrustStore::PrivateTrustStore(const TestCertificate& ca) {
  namespace fs = std::filesystem;
  const std::string temporary = makeTempDir();
  if (temporary.empty()) {
    why_ = "no temporary directory";
    return;
  }
  copy_ = temporary + "/certs";
  std::error_code error;
  fs::copy(kCaDirectory, copy_, fs::copy_options::recursive | fs::copy_options::copy_symlinks,
           error);
  if (error) {
    why_ = "cannot copy " + std::string(kCaDirectory) + ": " + error.message();
    return;
  }
  // Every file written is first removed from the copy, so that nothing is written through a
  // link into the machine's own store. As update-ca-certificates does, the bundle first, then
  // the certificate and its hash link: the directory then holds what the bundle holds.
  const std::string bundle = copy_ + "/ca-certificates.crt";
  const std::string caFile = copy_ + "/marlune-test-ca.pem";
  const std::string certificates = readFile(bundle);
  fs::remove(bundle, error);
  fs::remove(caFile, error);
  if (error || !writePem(ca, caFile, "")) {
    why_ = "cannot write the test CA into the copy";
    return;
  }
  writeFile(bundle, certificates + readFile(caFile));
  const std::string hash = hashOf(ca.cert.get());
  int n = 0;
  while (fs::symlink_status(copy_ + "/" + hash + "." + std::to_string(n)).type() !=
         fs::file_type::not_found) {
    ++n;
  }
  fs::create_symlink("marlune-test-ca.pem", copy_ + "/" + hash + "." + std::to_string(n), error);
  if (unshare(CLONE_NEWNS) != 0 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount(copy_.c_str(), kCaDirectory, nullptr, MS_BIND, nullptr) != 0) {
    why_ = std::string("no private mount namespace here: ") + std::strerror(errno);
  }
}

PrivateTrustStore::~PrivateTrustStore() {
  if (active()) umount2(kCaDirectory, MNT_DETACH);
  if (!copy_.empty()) removeTree(copy_.substr(0, copy_.rfind('/')));
}

}  // namespace testing_support
