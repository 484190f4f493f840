// How an answer leaves its connection: at once, after a delay, dripped, cut short, replaced by
// garbage, or not at all. Each step that sends may take the transfer limit; a client that
// takes nothing for that long is let go.
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <sstream>

#include "server/connection.h"

namespace server {

namespace {

const char kGarbage[] = "\x16\x03garbage\r\n";

}  // namespace

asio::awaitable<Connection::Ending> Connection::deliver(const Outgoing& answer,
                                                        const Delivery& delivery) {
  using Kind = Delivery::Kind;
  Ending ending;
  switch (delivery.kind) {
    case Kind::kNormal:
      break;
    case Kind::kDrop:
      co_return Ending{Ending::Kind::kDropped, "dropped without an answer"};
    case Kind::kGarbage:
      ending = co_await send(buffersOf(kGarbage, sizeof kGarbage - 1));
      co_return ending.goesOn() ? Ending{Ending::Kind::kGarbage, "garbage sent"} : ending;
    case Kind::kDelay:
      ending = co_await pause(std::chrono::milliseconds(std::max<int64_t>(delivery.amount, 0)));
      break;
    case Kind::kDrip:
      ending = co_await drip(answer.head + answer.body, delivery.amount);
      if (!ending.goesOn()) co_return ending;
      co_return answer.keepConnection ? Ending() : answer.closing;
    case Kind::kCut:
    case Kind::kCutAndHold:
      ending = co_await send(buffersOf(answer.head.data(), answer.head.size(), answer.body.data(),
                                       answer.body.size() / 2));
      if (!ending.goesOn()) co_return ending;
      if (delivery.kind == Kind::kCut) co_return Ending{Ending::Kind::kCut, "answer cut short"};
      co_return co_await holdUntilClientCloses();
    case Kind::kHold:
      co_return co_await holdUntilClientCloses();
  }
  if (ending.goesOn()) {
    ending = co_await send(
        buffersOf(answer.head.data(), answer.head.size(), answer.body.data(), answer.body.size()));
  }
  if (!ending.goesOn()) co_return ending;
  co_return answer.keepConnection ? Ending() : answer.closing;
}

asio::awaitable<Connection::Ending> Connection::stream(const EmulatorResponse& answer,
                                                       std::string next, bool clientKeeps) {
  // An HTTP/1.0 client knows no chunks: its answer ends with the connection.
  const bool chunked = http11_;
  const Outgoing out = prepare(answer, clientKeeps, chunked ? Framing::kChunked : Framing::kClose);
  Ending ending = co_await send(buffersOf(out.head.data(), out.head.size()));
  if (ending.goesOn()) ending = co_await sendPiece(answer.body, chunked);
  while (ending.goesOn()) {
    ending = co_await sendPiece(next, chunked);
    next.clear();
    if (ending.goesOn() && !answer.morePieces(next)) break;
  }
  const char kLastChunk[] = "0\r\n\r\n";
  if (ending.goesOn() && chunked) {
    ending = co_await send(buffersOf(kLastChunk, sizeof kLastChunk - 1));
  }
  if (!ending.goesOn()) co_return ending;
  co_return out.keepConnection ? Ending() : out.closing;
}

// A chunk's size line, the piece and its line end; an empty piece sends nothing, as an empty
// chunk would end the body.
asio::awaitable<Connection::Ending> Connection::sendPiece(const std::string& piece, bool chunked) {
  if (piece.empty()) co_return Ending();
  if (!chunked) co_return co_await send(buffersOf(piece.data(), piece.size()));
  std::ostringstream size;
  size << std::hex << piece.size() << "\r\n";
  const std::string frame = size.str() + piece + "\r\n";
  co_return co_await send(buffersOf(frame.data(), frame.size()));
}

asio::awaitable<Connection::Ending> Connection::send(const std::vector<asio::const_buffer>& bytes) {
  if (stopping_) co_return stopping();
  stream_->expiresAfter(kTransferLimit);
  const error_code error = co_await stream_->writeAll(bytes);
  if (!error) co_return Ending();
  const Ending left{Ending::Kind::kClientLeft, "the client left before the answer was sent"};
  if (error == asio::error::broken_pipe || error == asio::error::connection_reset) co_return left;
  co_return endingOf(
      error, {Ending::Kind::kTimedOut, "answer not taken within " + durationText(kTransferLimit)},
      left, Ending::Kind::kFailed, "sending failed: ");
}

// A tenth of a second's worth at a time, at least one byte.
asio::awaitable<Connection::Ending> Connection::drip(const std::string& bytes,
                                                     int64_t bytesPerSecond) {
  const int64_t rate = std::max<int64_t>(bytesPerSecond, 1);
  const size_t step = static_cast<size_t>(std::max<int64_t>(rate / 10, 1));
  const std::chrono::microseconds interval(1000000 * static_cast<int64_t>(step) / rate);
  for (size_t at = 0; at < bytes.size(); at += step) {
    Ending ending = co_await send(buffersOf(bytes.data() + at, std::min(step, bytes.size() - at)));
    if (ending.goesOn() && at + step < bytes.size()) {
      ending = co_await pause(std::chrono::duration_cast<std::chrono::milliseconds>(interval));
    }
    if (!ending.goesOn()) co_return ending;
  }
  co_return Ending();
}

asio::awaitable<Connection::Ending> Connection::pause(std::chrono::milliseconds wait) {
  if (stopping_) co_return stopping();
  timer_.expires_after(wait);
  const auto [error] = co_await timer_.async_wait(asio::as_tuple(asio::use_awaitable));
  co_return error || stopping_ ? stopping() : Ending();
}

asio::awaitable<Connection::Ending> Connection::holdUntilClientCloses() {
  stream_->expiresNever();
  for (;;) {
    const error_code error = co_await readSome(1024);
    if (error) {
      const Ending held{Ending::Kind::kHeld, "held until the client closed"};
      co_return endingOf(error, held, held, Ending::Kind::kFailed, "reading failed: ");
    }
    input_.clear();
  }
}

}  // namespace server
