// Certificates made by the tests themselves: self-signed ones, a test CA and leaves it signs
// for a given subjectAltName, with EC P-256 keys valid from an hour ago for an hour, and
// their PEM files.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

namespace testing_support {

// Frees an OpenSSL object with the library's own function.
template <typename T, void (*Free)(T*)>
struct OpenSslFree {
  void operator()(T* object) const { Free(object); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY, EVP_PKEY_free>>;
using X509Ptr = std::unique_ptr<X509, OpenSslFree<X509, X509_free>>;

struct TestCertificate {
  PkeyPtr key;
  X509Ptr cert;
};

// A certificate for `altName` (as "IP:127.0.0.1" or "DNS:localhost") with common name
// `commonName`, signed by its own key; not a CA.
TestCertificate makeSelfSigned(const std::string& commonName, const std::string& altName);

// A CA certificate with common name `commonName`, signed by its own key.
TestCertificate makeCa(const std::string& commonName);

// A certificate for `altName` with common name `commonName`, signed by `ca`.
TestCertificate makeLeaf(const TestCertificate& ca, const std::string& commonName,
                         const std::string& altName);

// Writes the certificate to `certPath` and, unless `keyPath` is empty, its key to `keyPath`,
// both PEM; false when a file cannot be written.
bool writePem(const TestCertificate& certificate, const std::string& certPath,
              const std::string& keyPath);

}  // namespace testing_support
