// Certificates for the TLS tests, made in memory with OpenSSL: a CA of the test's own and
// server certificates, signed by it or by themselves, valid from an hour ago for a day.
#pragma once

#include <string>

namespace testing_support {

// A certificate and its private key, both PEM.
struct PemPair {
  std::string cert;
  std::string key;
};

// A server certificate for `subjectAltName` ("IP:127.0.0.1", "DNS:elsewhere.example")
// signed by its own key: trusted by nobody.
PemPair selfSignedCertificate(const std::string& subjectAltName);

class TestCa {
 public:
  TestCa();

  // The CA's own certificate, to be trusted.
  const std::string& pem() const { return ca_.cert; }

  // A server certificate for `subjectAltName`, signed by this CA.
  PemPair issue(const std::string& subjectAltName) const;

 private:
  PemPair ca_;
};

// Writes `pair` as `<dir>/<name>.crt` and `<dir>/<name>.key`; returns the certificate's path.
std::string writePemFiles(const PemPair& pair, const std::string& dir, const std::string& name);

}  // namespace testing_support
