// One connection of the HTTP server, as a coroutine on the serving thread: the TLS handshake,
// then requests read with Beast's parser and handed to the handler, each answer carried out
// as its delivery says (delivery.cpp), until the keep-alive time passes, the client leaves,
// an answer ends it, or the server stops. One log line when it opens and one when it closes,
// with the reason.
#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "server/byte_stream.h"
#include "server/connection_end.h"
#include "server/emulator_log.h"
#include "server/http_server.h"

namespace server {

// An answer ready to go: its status line and header fields, then its body.
struct Outgoing {
  std::string head;
  std::string body;
  bool keepConnection = true;
  ConnectionEnd closing;  // how the connection ends after it, when it does
};

// The bytes of requests that all connections hold at once, read and not yet answered, within
// a bound. Used on the serving thread only.
class RequestBudget {
 public:
  explicit RequestBudget(size_t limit) : limit_(limit) {}

  // Takes `bytes`; false, taking none, when fewer are left.
  bool take(size_t bytes) {
    if (bytes > limit_ - held_) return false;
    held_ += bytes;
    return true;
  }
  void give(size_t bytes) { held_ -= bytes; }
  size_t limit() const { return limit_; }

 private:
  const size_t limit_;
  size_t held_ = 0;
};

class Connection {
 public:
  // `budget` holds the bytes of the requests it reads until they are answered.
  Connection(uint64_t id, std::unique_ptr<ByteStream> stream, asio::any_io_executor executor,
             const HttpServer::Handler& handler, const HttpServer::Settings& settings,
             RequestBudget& budget, EmulatorLog& log);

  // Serves the connection until it closes.
  asio::awaitable<void> serve();

  // Ends the connection at its next wait, which is cut short ("stopping").
  void stop();

 private:
  using Ending = ConnectionEnd;
  using Kind = ConnectionEnd::Kind;

  asio::awaitable<Ending> handshake();
  asio::awaitable<Ending> awaitRequest();
  asio::awaitable<Ending> handleRequest();
  asio::awaitable<Ending> readRequest(RecordedRequest& request, bool& clientKeeps);
  // "400 Bad Request" for a request that cannot be read, or "413 Content Too Large" for one
  // over the budget, and the end.
  asio::awaitable<Ending> refuse(bool tooLarge = false);
  // Appends what arrives next, at most `most` bytes, to `input_`; what arrives is taken from the
  // budget `weight` times (asio::error::no_buffer_space when too little is left): once for a
  // request head, twice for a body of unknown length, whose text may take twice its bytes while
  // it grows; not at all for 0.
  asio::awaitable<error_code> readSome(size_t most, size_t weight = 0);
  // Takes a body of `length` bytes from the budget; false when too little is left.
  bool holdBody(uint64_t length);
  // Gives the current request's bytes back to the budget.
  void releaseHeld();
  // How a body's end is told: by its length, by its last chunk, or by closing the connection.
  enum class Framing { kLength, kChunked, kClose };
  Outgoing prepare(const EmulatorResponse& answer, bool clientKeeps, Framing framing) const;

  // delivery.cpp
  asio::awaitable<Ending> deliver(const Outgoing& answer, const Delivery& delivery);
  // An answer whose body continues after `next` with the pieces of answer.morePieces.
  asio::awaitable<Ending> stream(const EmulatorResponse& answer, std::string next,
                                 bool clientKeeps);
  asio::awaitable<Ending> sendPiece(const std::string& piece, bool chunked);
  asio::awaitable<Ending> send(const std::vector<asio::const_buffer>& bytes);
  asio::awaitable<Ending> drip(const std::string& bytes, int64_t bytesPerSecond);
  asio::awaitable<Ending> pause(std::chrono::milliseconds wait);
  asio::awaitable<Ending> holdUntilClientCloses();

  // The end a failed wait makes: `timedOut` for a timeout, `peerClosed` when the client ended
  // the stream, stopping once stop() was called, or else `failedKind` with `failed` and the
  // error as its note.
  Ending endingOf(const error_code& error, Ending timedOut, Ending peerClosed, Kind failedKind,
                  const std::string& failed);
  Ending stopping() const { return {Kind::kStopping, "stopping"}; }

  const uint64_t id_;
  std::unique_ptr<ByteStream> stream_;
  const HttpServer::Handler& handler_;
  const HttpServer::Settings& settings_;
  RequestBudget& budget_;
  EmulatorLog& log_;
  asio::steady_timer timer_;
  std::string input_;     // received, not yet parsed: part of a request, or the next one
  int64_t requests_ = 0;  // begun on this connection
  size_t held_ = 0;       // of the budget, for the current request
  bool http11_ = true;    // the last request came as HTTP/1.1 (or later)
  bool stopping_ = false;
  bool failed_ = false;  // the stream failed: TLS may not end cleanly
};

// The buffers of `first` followed by `second`, for one gathering write. (gcc 12 cannot keep
// an initializer list alive across a co_await: coroutines build their buffers here.)
std::vector<asio::const_buffer> buffersOf(const char* first, size_t firstSize,
                                          const char* second = nullptr, size_t secondSize = 0);

// "1 s", "60 s", or "250 ms" when not whole seconds.
std::string durationText(std::chrono::milliseconds duration);

}  // namespace server
