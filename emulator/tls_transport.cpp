// TLS over a non-blocking socket: OpenSSL's calls, with their "want read" and "want write"
// passed on to whoever drives the connection.
#include "tls_transport.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

template <typename T, void (*Free)(T*)>
struct OpenSslFree {
  void operator()(T* object) const { Free(object); }
};
using SslCtxPtr = std::unique_ptr<SSL_CTX, OpenSslFree<SSL_CTX, SSL_CTX_free>>;
using SslPtr = std::unique_ptr<SSL, OpenSslFree<SSL, SSL_free>>;

const unsigned char kSessionContext[] = "marluneEmulator";

// OpenSSL's reason for the first error of this thread, or `otherwise`; the queue is emptied.
std::string takeError(const char* otherwise) {
  unsigned long code = ERR_peek_error();
  const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
  ERR_clear_error();
  return reason != nullptr ? reason : otherwise;
}

class TlsTransport : public Transport {
 public:
  TlsTransport(net::Socket socket, SslPtr ssl) : socket_(std::move(socket)), ssl_(std::move(ssl)) {}

  bool hasHandshake() const override { return true; }

  IoResult handshake() override {
    ERR_clear_error();
    errno = 0;
    int rc = SSL_do_handshake(ssl_.get());
    return rc == 1 ? IoResult{IoStatus::kDone, 0} : outcome(rc);
  }

  IoResult read(char* buffer, size_t size) override {
    size_t got = 0;
    ERR_clear_error();
    errno = 0;
    if (SSL_read_ex(ssl_.get(), buffer, size, &got) == 1) return {IoStatus::kDone, got};
    return outcome(0);
  }

  IoResult write(const char* data, size_t size) override {
    size_t sent = 0;
    ERR_clear_error();
    errno = 0;
    if (SSL_write_ex(ssl_.get(), data, size, &sent) == 1) return {IoStatus::kDone, sent};
    return outcome(0);
  }

  // OpenSSL forbids a shutdown after a fatal error.
  void finish() override {
    if (!failed_ && SSL_is_init_finished(ssl_.get()) == 1) SSL_shutdown(ssl_.get());
    ERR_clear_error();
  }

  std::string failure() const override { return failure_; }
  net::SocketHandle socket() const override { return socket_.get(); }

 private:
  IoResult outcome(int rc) {
    switch (SSL_get_error(ssl_.get(), rc)) {
      case SSL_ERROR_WANT_READ:
        return {IoStatus::kWantRead, 0};
      case SSL_ERROR_WANT_WRITE:
        return {IoStatus::kWantWrite, 0};
      case SSL_ERROR_ZERO_RETURN:
        return {IoStatus::kClosed, 0};
      case SSL_ERROR_SYSCALL:
        failed_ = true;
        // Without a system error this is the client closing without a TLS close notice.
        if (errno == 0 && ERR_peek_error() == 0) return {IoStatus::kClosed, 0};
        failure_ = net::lastSocketError();
        ERR_clear_error();
        return {IoStatus::kFailed, 0};
      default:
        failed_ = true;
        failure_ = takeError("TLS failed");
        return {IoStatus::kFailed, 0};
    }
  }

  net::Socket socket_;  // outlives ssl_, which uses it
  SslPtr ssl_;
  bool failed_ = false;
  std::string failure_;
};

class TlsMaker : public TransportMaker {
 public:
  explicit TlsMaker(SslCtxPtr context) : context_(std::move(context)) {}

  std::unique_ptr<Transport> make(net::Socket socket) override {
    SslPtr ssl(SSL_new(context_.get()));
    if (!ssl || SSL_set_fd(ssl.get(), static_cast<int>(socket.get())) != 1) {
      ERR_clear_error();
      return nullptr;
    }
    SSL_set_accept_state(ssl.get());
    return std::make_unique<TlsTransport>(std::move(socket), std::move(ssl));
  }

  const char* name() const override { return "TLS"; }

 private:
  SslCtxPtr context_;
};

// True when the file at `path` can be read; otherwise false with the system's reason.
bool readable(const std::string& path, std::string& why) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    why = std::strerror(errno);
    return false;
  }
  std::fclose(file);
  return true;
}

// No passphrase is ever asked for: a protected key fails to load instead.
int noPassphrase(char*, int, int, void*) { return 0; }

}  // namespace

bool tlsAvailable() { return true; }

std::unique_ptr<TransportMaker> loadTlsTransports(const std::string& certPath,
                                                  const std::string& keyPath, std::string& error) {
  SslCtxPtr context(SSL_CTX_new(TLS_server_method()));
  if (!context) {
    error = "cannot set up TLS: " + takeError("no context");
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
  // A client that closes without a close_notify has simply closed.
  SSL_CTX_set_options(context.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
  // Idle connections hold no buffers; an answer may go out in parts, from a buffer that
  // moves as it grows between two tries.
  SSL_CTX_set_mode(context.get(), SSL_MODE_RELEASE_BUFFERS | SSL_MODE_ENABLE_PARTIAL_WRITE |
                                      SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_CTX_set_session_id_context(context.get(), kSessionContext, sizeof(kSessionContext) - 1);
  SSL_CTX_set_default_passwd_cb(context.get(), noPassphrase);
  std::string why;
  if (!readable(certPath, why) ||
      SSL_CTX_use_certificate_chain_file(context.get(), certPath.c_str()) != 1) {
    error = "cannot use the certificate " + certPath + ": " + (why.empty() ? takeError("") : why);
    return nullptr;
  }
  if (!readable(keyPath, why) ||
      SSL_CTX_use_PrivateKey_file(context.get(), keyPath.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(context.get()) != 1) {
    error = "cannot use the key " + keyPath + ": " +
            (why.empty() ? takeError("it does not fit the certificate") : why);
    return nullptr;
  }
  return std::make_unique<TlsMaker>(std::move(context));
}
