// TLS over Beast's TCP stream: OpenSSL works on two memory BIOs, and the stream carries their
// bytes, so Beast's deadline bounds every step of a handshake, a read and a write alike.
//
// Asio's own SSL stream was tried first: it holds about 68 KiB of fixed buffers per
// connection (two 17 KiB staging buffers and a 2 x 17 KiB BIO pair), which tripled the
// emulator's memory with a thousand clients kept connected. Here an idle connection keeps
// only OpenSSL's state (its record buffers are released while idle) and a few small BIOs.
#include <openssl/buffer.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <array>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <functional>

#include "server/byte_stream.h"
#include "server/tls_context.h"

namespace server {

namespace {

namespace beast = boost::beast;
constexpr auto kAwait = asio::as_tuple(asio::use_awaitable);
// What one read from the socket takes while no caller's buffer is at hand, and one step of a
// write hands to OpenSSL (a TLS record's worth).
const size_t kReadChunk = 1024;
const size_t kWriteChunk = 16 * 1024;

struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

class TlsStream : public ByteStream {
 public:
  TlsStream(asio::ip::tcp::socket socket, TlsContext& tls)
      : tcp_(std::move(socket)), ssl_(SSL_new(tls.native().native_handle())) {
    if (!ssl_) return;
    in_ = BIO_new(BIO_s_mem());
    out_ = BIO_new(BIO_s_mem());
    BIO_set_mem_eof_return(in_, -1);  // empty means "wait for more", not the end
    SSL_set_bio(ssl_.get(), in_, out_);
    SSL_set_accept_state(ssl_.get());
  }

  const char* kind() const override { return "TLS"; }

  asio::awaitable<error_code> handshake() override {
    size_t unused = 0;
    std::array<char, kReadChunk> scratch;
    co_return co_await drive([this](size_t&) { return SSL_do_handshake(ssl_.get()); }, unused,
                             asio::buffer(scratch));
  }

  // The caller's buffer takes the raw bytes before OpenSSL gives it the plain ones: a
  // connection waiting for its next request holds no buffer of its own here.
  asio::awaitable<ReadResult> readSome(asio::mutable_buffer into) override {
    size_t count = 0;
    const error_code error = co_await drive(
        [this, into](size_t& got) {
          return SSL_read_ex(ssl_.get(), into.data(), into.size(), &got);
        },
        count, into);
    co_return ReadResult(error, count);
  }

  asio::awaitable<error_code> writeAll(const std::vector<asio::const_buffer>& bytes) override {
    for (const asio::const_buffer& buffer : bytes) {
      const char* data = static_cast<const char*>(buffer.data());
      for (size_t at = 0; at < buffer.size();) {
        const size_t size = std::min(kWriteChunk, buffer.size() - at);
        size_t written = 0;
        std::array<char, kReadChunk> scratch;
        const error_code error = co_await drive(
            [this, data, at, size](size_t& done) {
              return SSL_write_ex(ssl_.get(), data + at, size, &done);
            },
            written, asio::buffer(scratch));
        if (error) co_return error;
        at += written;
      }
    }
    co_return error_code();
  }

  void expiresAfter(std::chrono::steady_clock::duration wait) override { tcp_.expires_after(wait); }
  void expiresNever() override { tcp_.expires_never(); }
  void cancel() override { tcp_.cancel(); }

  // OpenSSL drops a session from its cache when the connection ends without a shutdown; a
  // quiet one keeps it for the client's next connection without waiting for the client.
  void close(bool cleanEnd) override {
    if (cleanEnd && ssl_) SSL_set_shutdown(ssl_.get(), SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
    tcp_.close();
  }

 private:
  // An OpenSSL call that returns 1 (and its byte count through the argument) when it got on.
  using Step = std::function<int(size_t&)>;

  // Runs `step` until it gets on, sending what OpenSSL wrote and handing it what the peer
  // sends, read through `scratch`, whenever it asks for more.
  asio::awaitable<error_code> drive(Step step, size_t& count, asio::mutable_buffer scratch) {
    if (!ssl_) co_return asio::error::no_memory;
    for (;;) {
      ERR_clear_error();
      const int result = step(count);
      const int reason = result == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl_.get(), result);
      const unsigned long failure = ERR_get_error();
      if (BIO_pending(out_) > 0) {
        const error_code error = co_await flush();
        if (error) co_return error;
      }
      if (reason == SSL_ERROR_NONE) co_return error_code();
      if (reason == SSL_ERROR_ZERO_RETURN) co_return asio::error::eof;
      if (reason != SSL_ERROR_WANT_READ) {
        co_return failure != 0
            ? error_code(static_cast<int>(failure), asio::error::get_ssl_category())
            : asio::ssl::error::stream_truncated;
      }
      // While it waits for the peer, neither BIO holds memory.
      renewIfHolding(in_, SSL_set0_rbio);
      renewIfHolding(out_, SSL_set0_wbio);
      const auto [error, got] = co_await tcp_.async_read_some(scratch, kAwait);
      if (error) co_return error;
      BIO_write(in_, scratch.data(), static_cast<int>(got));
    }
  }

  // Sends everything OpenSSL has written so far.
  asio::awaitable<error_code> flush() {
    const int pending = BIO_pending(out_);
    std::string bytes(static_cast<size_t>(pending), '\0');
    BIO_read(out_, &bytes[0], pending);
    const auto [error, count] = co_await asio::async_write(tcp_, asio::buffer(bytes), kAwait);
    (void)count;
    co_return error;
  }

  // Replaces `bio` by a new one when it is empty but holds a buffer: a memory BIO keeps the
  // largest buffer it ever needed.
  void renewIfHolding(BIO*& bio, void (*install)(SSL*, BIO*)) {
    BUF_MEM* memory = nullptr;
    BIO_get_mem_ptr(bio, &memory);
    if (BIO_pending(bio) != 0 || memory == nullptr || memory->max == 0) return;
    BIO* fresh = BIO_new(BIO_s_mem());
    if (fresh == nullptr) return;
    BIO_set_mem_eof_return(fresh, -1);
    install(ssl_.get(), fresh);  // frees the old one
    bio = fresh;
  }

  beast::tcp_stream tcp_;
  std::unique_ptr<SSL, SslFree> ssl_;
  BIO* in_ = nullptr;   // owned by ssl_: what came from the peer
  BIO* out_ = nullptr;  // owned by ssl_: what goes to the peer
};

}  // namespace

std::unique_ptr<ByteStream> tlsStream(asio::ip::tcp::socket socket, TlsContext& tls) {
  return std::make_unique<TlsStream>(std::move(socket), tls);
}

}  // namespace server
