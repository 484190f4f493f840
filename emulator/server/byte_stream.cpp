// The two byte streams of a connection: Beast's TCP stream, whose deadline bounds every
// call, and Beast's TLS stream over it.
#include "server/byte_stream.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

#include "server/tls_context.h"

namespace server {

namespace {

namespace beast = boost::beast;
constexpr auto kAwait = asio::as_tuple(asio::use_awaitable);

class PlainStream : public ByteStream {
 public:
  explicit PlainStream(asio::ip::tcp::socket socket) : stream_(std::move(socket)) {}

  const char* kind() const override { return "plain"; }

  asio::awaitable<error_code> handshake() override { co_return error_code(); }

  asio::awaitable<ReadResult> readSome(asio::mutable_buffer into) override {
    auto [error, count] = co_await stream_.async_read_some(into, kAwait);
    co_return ReadResult(error, count);
  }

  asio::awaitable<error_code> writeAll(const std::vector<asio::const_buffer>& bytes) override {
    auto [error, count] = co_await asio::async_write(stream_, bytes, kAwait);
    (void)count;
    co_return error;
  }

  void expiresAfter(std::chrono::steady_clock::duration wait) override {
    stream_.expires_after(wait);
  }
  void expiresNever() override { stream_.expires_never(); }
  void cancel() override { stream_.cancel(); }
  void close(bool) override { stream_.close(); }

 private:
  beast::tcp_stream stream_;
};

class TlsStream : public ByteStream {
 public:
  TlsStream(asio::ip::tcp::socket socket, TlsContext& tls)
      : stream_(beast::tcp_stream(std::move(socket)), tls.native()) {}

  const char* kind() const override { return "TLS"; }

  asio::awaitable<error_code> handshake() override {
    auto [error] = co_await stream_.async_handshake(asio::ssl::stream_base::server, kAwait);
    co_return error;
  }

  asio::awaitable<ReadResult> readSome(asio::mutable_buffer into) override {
    auto [error, count] = co_await stream_.async_read_some(into, kAwait);
    co_return ReadResult(error, count);
  }

  asio::awaitable<error_code> writeAll(const std::vector<asio::const_buffer>& bytes) override {
    auto [error, count] = co_await asio::async_write(stream_, bytes, kAwait);
    (void)count;
    co_return error;
  }

  void expiresAfter(std::chrono::steady_clock::duration wait) override {
    beast::get_lowest_layer(stream_).expires_after(wait);
  }
  void expiresNever() override { beast::get_lowest_layer(stream_).expires_never(); }
  void cancel() override { beast::get_lowest_layer(stream_).cancel(); }

  // OpenSSL drops a session from its cache when the connection ends without a shutdown; a
  // quiet one keeps it for the client's next connection without waiting for the client.
  void close(bool cleanEnd) override {
    if (cleanEnd)
      SSL_set_shutdown(stream_.native_handle(), SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
    beast::get_lowest_layer(stream_).close();
  }

 private:
  beast::ssl_stream<beast::tcp_stream> stream_;
};

}  // namespace

std::unique_ptr<ByteStream> plainStream(asio::ip::tcp::socket socket) {
  return std::make_unique<PlainStream>(std::move(socket));
}

std::unique_ptr<ByteStream> tlsStream(asio::ip::tcp::socket socket, TlsContext& tls) {
  return std::make_unique<TlsStream>(std::move(socket), tls);
}

bool closedByPeer(const error_code& error) {
  return error == asio::error::eof || error == asio::ssl::error::stream_truncated;
}

std::string describe(const error_code& error) {
  if (error.category() == asio::error::get_ssl_category()) {
    const char* reason = ERR_reason_error_string(static_cast<unsigned long>(error.value()));
    if (reason != nullptr) return reason;
  }
  return error.message();
}

}  // namespace server
