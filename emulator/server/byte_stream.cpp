// The plain byte stream of a connection, Beast's TCP stream, whose deadline bounds every
// call; and what both streams share. TLS is in tls_stream.cpp.
#include "server/byte_stream.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/tcp_stream.hpp>

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

}  // namespace

std::unique_ptr<ByteStream> plainStream(asio::ip::tcp::socket socket) {
  return std::make_unique<PlainStream>(std::move(socket));
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
