// A private trust store: a copy of the CA directory bound over it in a mount namespace.
#include "support/private_trust.h"

#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "support/file_util.h"

namespace testing_support {

namespace {

const char kCaDirectory[] = "/etc/ssl/certs";

// The name OpenSSL's directory lookup looks for: the subject hash, ".0".
std::string hashLinkName(const std::string& caPem) {
  std::unique_ptr<BIO, decltype(&BIO_free)> in(BIO_new_mem_buf(caPem.data(), caPem.size()),
                                               BIO_free);
  std::unique_ptr<X509, decltype(&X509_free)> ca(
      PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr), X509_free);
  if (!ca) return std::string();
  char name[16];
  std::snprintf(name, sizeof(name), "%08lx.0", X509_subject_name_hash(ca.get()));
  return name;
}

}  // namespace

PrivateTrustStore::PrivateTrustStore(const std::string& caPem) : copy_(makeTempDir() + "/certs") {
  namespace fs = std::filesystem;
  const std::string link = hashLinkName(caPem);
  std::error_code error;
  fs::copy(kCaDirectory, copy_, fs::copy_options::recursive | fs::copy_options::copy_symlinks,
           error);
  if (link.empty() || error) {
    why_ = "cannot copy " + std::string(kCaDirectory) + " or read the CA";
    return;
  }
  writeFile(copy_ + "/marlune-test-ca.pem", caPem);
  fs::create_symlink("marlune-test-ca.pem", copy_ + "/" + link, error);
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
