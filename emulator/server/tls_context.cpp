// Asio's TLS context, set up through OpenSSL's own calls, which report failures as values.
#include "server/tls_context.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <boost/asio/ssl/context.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const unsigned char kSessionContext[] = "marluneEmulator";

// OpenSSL's reason for the first error of this thread, or `otherwise`; the queue is emptied.
std::string takeError(const char* otherwise) {
  unsigned long code = ERR_peek_error();
  const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
  ERR_clear_error();
  return reason != nullptr ? reason : otherwise;
}

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

TlsContext::TlsContext(std::unique_ptr<boost::asio::ssl::context> context)
    : context_(std::move(context)) {}

TlsContext::~TlsContext() = default;

std::unique_ptr<TlsContext> TlsContext::load(const std::string& certPath,
                                             const std::string& keyPath, std::string& reason) {
  auto context = std::make_unique<boost::asio::ssl::context>(boost::asio::ssl::context::tls_server);
  SSL_CTX* native = context->native_handle();
  SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION);
  // A client that closes without a close_notify has simply closed.
  SSL_CTX_set_options(native, SSL_OP_IGNORE_UNEXPECTED_EOF);
  // Idle connections hold no buffers.
  SSL_CTX_set_mode(native, SSL_MODE_RELEASE_BUFFERS);
  SSL_CTX_set_session_id_context(native, kSessionContext, sizeof(kSessionContext) - 1);
  SSL_CTX_set_default_passwd_cb(native, noPassphrase);
  std::string why;
  if (!readable(certPath, why) ||
      SSL_CTX_use_certificate_chain_file(native, certPath.c_str()) != 1) {
    reason = "cannot use the certificate " + certPath + ": " + (why.empty() ? takeError("") : why);
    return nullptr;
  }
  if (!readable(keyPath, why) ||
      SSL_CTX_use_PrivateKey_file(native, keyPath.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(native) != 1) {
    reason = "cannot use the key " + keyPath + ": " +
             (why.empty() ? takeError("it does not fit the certificate") : why);
    return nullptr;
  }
  return std::unique_ptr<TlsContext>(new TlsContext(std::move(context)));
}
