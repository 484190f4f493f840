// Making and writing the tests' certificates with libcrypto.
#include "support/test_certificates.h"

#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <utility>
#include <vector>

namespace testing_support {

namespace {

struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileClose>;
using ExtensionPtr =
    std::unique_ptr<X509_EXTENSION, OpenSslFree<X509_EXTENSION, X509_EXTENSION_free>>;

// A certificate with a new key and `extensions` (NID and value as in a configuration file),
// signed by `issuer`, or by its own key when `issuer` is null.
TestCertificate makeCertificate(const std::string& commonName, long serial,
                                const std::vector<std::pair<int, std::string>>& extensions,
                                const TestCertificate* issuer) {
  TestCertificate made;
  made.key.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  made.cert.reset(X509_new());
  X509* cert = made.cert.get();
  X509* signer = issuer != nullptr ? issuer->cert.get() : cert;
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
  X509_set_pubkey(cert, made.key.get());
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509_set_issuer_name(cert, X509_get_subject_name(signer));
  X509V3_CTX v3;
  X509V3_set_ctx_nodb(&v3);
  X509V3_set_ctx(&v3, signer, cert, nullptr, nullptr, 0);
  for (const auto& extension : extensions) {
    ExtensionPtr extensionMade(
        X509V3_EXT_conf_nid(nullptr, &v3, extension.first, extension.second.c_str()));
    X509_add_ext(cert, extensionMade.get(), -1);
  }
  X509_sign(cert, issuer != nullptr ? issuer->key.get() : made.key.get(), EVP_sha256());
  return made;
}

}  // namespace

TestCertificate makeSelfSigned(const std::string& commonName, const std::string& altName) {
  return makeCertificate(commonName, 1, {{NID_subject_alt_name, altName}}, nullptr);
}

TestCertificate makeCa(const std::string& commonName) {
  return makeCertificate(commonName, 1,
                         {{NID_basic_constraints, "critical,CA:TRUE"},
                          {NID_key_usage, "critical,keyCertSign,cRLSign"}},
                         nullptr);
}

TestCertificate makeLeaf(const TestCertificate& ca, const std::string& commonName,
                         const std::string& altName) {
  return makeCertificate(commonName, 2, {{NID_subject_alt_name, altName}}, &ca);
}

bool writePem(const TestCertificate& certificate, const std::string& certPath,
              const std::string& keyPath) {
  FilePtr certFile(std::fopen(certPath.c_str(), "wb"));
  if (!certFile || PEM_write_X509(certFile.get(), certificate.cert.get()) != 1) return false;
  if (keyPath.empty()) return true;
  FilePtr keyFile(std::fopen(keyPath.c_str(), "wb"));
  return keyFile && PEM_write_PrivateKey(keyFile.get(), certificate.key.get(), nullptr, nullptr, 0,
                                         nullptr, nullptr) == 1;
}

}  // namespace testing_support
