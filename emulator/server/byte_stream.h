// The bytes of one server connection, plain TCP or TLS over it, behind one interface, so that
// reading requests and delivering answers are written once for both. Every call completes
// with an error code instead of throwing. A deadline set with expiresAfter bounds every call
// made until it is set again (beast::error::timeout); cancel() ends the pending ones
// (asio::error::operation_aborted).
#pragma once

#include <boost/asio/awaitable.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class TlsContext;

namespace server {

namespace asio = boost::asio;
using boost::system::error_code;
using ReadResult = std::pair<error_code, size_t>;

class ByteStream {
 public:
  virtual ~ByteStream() = default;

  // "plain" or "TLS", for the log.
  virtual const char* kind() const = 0;
  // The opening TLS handshake; nothing for plain TCP.
  virtual asio::awaitable<error_code> handshake() = 0;
  // At least one byte, or the error; the end of the stream is asio::error::eof.
  virtual asio::awaitable<ReadResult> readSome(asio::mutable_buffer into) = 0;
  // All of `bytes`, in one gathering write, or the error.
  virtual asio::awaitable<error_code> writeAll(const std::vector<asio::const_buffer>& bytes) = 0;

  virtual void expiresAfter(std::chrono::steady_clock::duration wait) = 0;
  virtual void expiresNever() = 0;
  virtual void cancel() = 0;
  // Closes the connection; a TLS session that ended cleanly stays resumable.
  virtual void close(bool cleanEnd) = 0;
};

std::unique_ptr<ByteStream> plainStream(asio::ip::tcp::socket socket);
// TLS as the server side, with `tls`, which must outlive the stream.
std::unique_ptr<ByteStream> tlsStream(asio::ip::tcp::socket socket, TlsContext& tls);

// True when `error` means the peer ended the stream (with or without TLS's notice).
bool closedByPeer(const error_code& error);
// The reason `error` gives, in OpenSSL's words for TLS errors.
std::string describe(const error_code& error);

}  // namespace server
