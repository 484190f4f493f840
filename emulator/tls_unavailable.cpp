// The stand-in for builds without OpenSSL's libssl (the Windows build's OpenSSL has libcrypto
// only): they serve HTTP only.
#include "tls_transport.h"

bool tlsAvailable() { return false; }

std::unique_ptr<TransportMaker> loadTlsTransports(const std::string&, const std::string&,
                                                  std::string& error) {
  error = "this build serves HTTP only: --tls-cert and --tls-key are not available";
  return nullptr;
}
