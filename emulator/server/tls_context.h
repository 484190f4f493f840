// The server's TLS side: TLS 1.2 and 1.3 through OpenSSL, presenting a certificate (chain)
// and key read from PEM files. One context serves every connection, so clients that
// reconnect resume their sessions.
#pragma once

#include <memory>
#include <string>

namespace boost::asio::ssl {
class context;
}

class TlsContext {
 public:
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  // The context presenting the certificate (chain) in `certPath` with the private key in
  // `keyPath`; null, with the reason in `reason` when a file cannot be read, the key is
  // protected by a passphrase, or the two do not match.
  static std::unique_ptr<TlsContext> load(const std::string& certPath, const std::string& keyPath,
                                          std::string& reason);

  boost::asio::ssl::context& native() { return *context_; }

 private:
  explicit TlsContext(std::unique_ptr<boost::asio::ssl::context> context);
  std::unique_ptr<boost::asio::ssl::context> context_;
};
