// Certificates for the TLS tests, made in memory with OpenSSL.
#include "support/test_certificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

#include "support/file_util.h"

namespace testing_support {

namespace {

template <typename T, void (*Free)(T*)>
struct Freer {
  void operator()(T* p) const { Free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using X509Ptr = std::unique_ptr<X509, Freer<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;

std::string pemOf(X509* cert) {
  BioPtr out(BIO_new(BIO_s_mem()));
  PEM_write_bio_X509(out.get(), cert);
  char* data = nullptr;
  long length = BIO_get_mem_data(out.get(), &data);
  return std::string(data, static_cast<size_t>(length));
}

std::string pemOf(EVP_PKEY* key) {
  BioPtr out(BIO_new(BIO_s_mem()));
  PEM_write_bio_PrivateKey(out.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  long length = BIO_get_mem_data(out.get(), &data);
  return std::string(data, static_cast<size_t>(length));
}

void addExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX v3;
  X509V3_set_ctx_nodb(&v3);
  X509V3_set_ctx(&v3, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &v3, nid, value.c_str());
  X509_add_ext(cert, extension, -1);
  X509_EXTENSION_free(extension);
}

// A certificate named `commonName` for `key`, issued by `issuer` (itself when null) and
// signed with `issuerKey`; `extensions` are (nid, value) pairs.
X509Ptr makeCertificate(const std::string& commonName, EVP_PKEY* key, X509* issuer,
                        EVP_PKEY* issuerKey,
                        std::initializer_list<std::pair<int, std::string>> extensions) {
  static long serial = 1;
  X509Ptr cert(X509_new());
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial++);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509* signer = issuer != nullptr ? issuer : cert.get();
  X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
  for (const auto& extension : extensions) {
    addExtension(cert.get(), signer, extension.first, extension.second);
  }
  X509_sign(cert.get(), issuerKey, EVP_sha256());
  return cert;
}

PkeyPtr newKey() { return PkeyPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256")); }

PkeyPtr readKey(const std::string& pem) {
  BioPtr in(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  return PkeyPtr(PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr));
}

X509Ptr readCertificate(const std::string& pem) {
  BioPtr in(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  return X509Ptr(PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr));
}

}  // namespace

PemPair selfSignedCertificate(const std::string& subjectAltName) {
  PkeyPtr key = newKey();
  X509Ptr cert = makeCertificate("marlune test server", key.get(), nullptr, key.get(),
                                 {{NID_subject_alt_name, subjectAltName}});
  return {pemOf(cert.get()), pemOf(key.get())};
}

TestCa::TestCa() {
  PkeyPtr key = newKey();
  X509Ptr cert = makeCertificate("marlune test CA", key.get(), nullptr, key.get(),
                                 {{NID_basic_constraints, "critical,CA:TRUE"},
                                  {NID_key_usage, "critical,keyCertSign,cRLSign"},
                                  {NID_subject_key_identifier, "hash"}});
  ca_ = {pemOf(cert.get()), pemOf(key.get())};
}

PemPair TestCa::issue(const std::string& subjectAltName) const {
  PkeyPtr caKey = readKey(ca_.key);
  X509Ptr caCert = readCertificate(ca_.cert);
  PkeyPtr key = newKey();
  X509Ptr cert = makeCertificate("marlune test server", key.get(), caCert.get(), caKey.get(),
                                 {{NID_subject_alt_name, subjectAltName},
                                  {NID_authority_key_identifier, "keyid"},
                                  {NID_ext_key_usage, "serverAuth"}});
  return {pemOf(cert.get()), pemOf(key.get())};
}

std::string writePemFiles(const PemPair& pair, const std::string& dir, const std::string& name) {
  const std::string certPath = dir + "/" + name + ".crt";
  writeFile(certPath, pair.cert);
  writeFile(dir + "/" + name + ".key", pair.key);
  return certPath;
}

}  // namespace testing_support
