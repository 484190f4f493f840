// HTTPS for the emulator: TLS 1.2 and 1.3 with OpenSSL's libssl over the connection layer's
// own sockets, with a certificate and key from PEM files. One context serves every
// connection, so clients that reconnect resume their sessions. A build without libssl has a
// stand-in (tls_unavailable.cpp) and serves HTTP only.
#pragma once

#include <memory>
#include <string>

#include "transport.h"

// False in a build that serves HTTP only.
bool tlsAvailable();

// The maker of TLS transports that present the certificate (chain) in `certPath` with the
// private key in `keyPath`; null, with the reason in `error`, when a file cannot be read,
// the two do not match, or the build serves HTTP only.
std::unique_ptr<TransportMaker> loadTlsTransports(const std::string& certPath,
                                                  const std::string& keyPath, std::string& error);
