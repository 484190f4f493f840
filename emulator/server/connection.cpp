// The life of one connection: its handshake, reading each request (the head as it arrived,
// then Beast's parser for the request line, the fields and the body), the handler, and
// waiting for the next request.
#include "server/connection.h"

#include <algorithm>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <sstream>

#include "util/ascii.h"

namespace server {

namespace {

namespace beast = boost::beast;
namespace http = beast::http;

const size_t kMaxHeadBytes = 64 * 1024;
const size_t kMaxBodyBytes = 64 * 1024 * 1024;
// What one read takes: little while a connection waits for its next request (a request head
// is mostly smaller, and a thousand connections wait at once), a head's worth while the head
// comes, more for a body.
const size_t kIdleReadBytes = 256;
const size_t kHeadReadBytes = 2048;
const size_t kReadBytes = 16 * 1024;
// Announced in "Keep-Alive: timeout=..., max=...": connections are not closed for their count.
const char kKeepAliveMax[] = "1000000";
const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
const char kBadRequest[] =
    "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
const char kTooLarge[] =
    "HTTP/1.1 413 Content Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

std::string countOf(int64_t requests) {
  return std::to_string(requests) + (requests == 1 ? " request" : " requests");
}

// The header lines of `head` (a request head up to and including its last line's end) in
// the order they came, each as it was sent, without its line end.
std::vector<std::string> headerLinesOf(const std::string& head) {
  std::vector<std::string> lines;
  size_t at = head.find("\r\n");  // past the request line
  while (at != std::string::npos && at + 2 < head.size()) {
    const size_t from = at + 2;
    at = head.find("\r\n", from);
    lines.push_back(head.substr(from, at - from));
  }
  return lines;
}

bool expectsContinue(const http::request<http::string_body>& request) {
  return equalsIgnoreCase(std::string(request[http::field::expect]), "100-continue");
}

}  // namespace

std::vector<asio::const_buffer> buffersOf(const char* first, size_t firstSize, const char* second,
                                          size_t secondSize) {
  std::vector<asio::const_buffer> buffers;
  buffers.push_back(asio::buffer(first, firstSize));
  if (secondSize > 0) buffers.push_back(asio::buffer(second, secondSize));
  return buffers;
}

std::string durationText(std::chrono::milliseconds duration) {
  const int64_t ms = duration.count();
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

Connection::Connection(uint64_t id, std::unique_ptr<ByteStream> stream,
                       asio::any_io_executor executor, const HttpServer::Handler& handler,
                       const HttpServer::Settings& settings, RequestBudget& budget,
                       EmulatorLog& log)
    : id_(id),
      stream_(std::move(stream)),
      handler_(handler),
      settings_(settings),
      budget_(budget),
      log_(log),
      timer_(std::move(executor)) {}

asio::awaitable<void> Connection::serve() {
  log_.line("connection " + std::to_string(id_) + " opened (" + stream_->kind() + ")");
  Ending ending = co_await handshake();
  while (ending.goesOn()) {
    ending = co_await awaitRequest();
    if (ending.goesOn()) ending = co_await handleRequest();
  }
  stream_->close(!failed_);
  log_.line("connection " + std::to_string(id_) + " closed after " + countOf(requests_) + " (" +
            ending.note + ")");
  if (settings_.onClose) settings_.onClose(id_, ending);
}

void Connection::stop() {
  stopping_ = true;
  stream_->cancel();
  timer_.cancel();
}

asio::awaitable<Connection::Ending> Connection::handshake() {
  if (stopping_) co_return stopping();
  stream_->expiresAfter(kTransferLimit);
  const error_code error = co_await stream_->handshake();
  if (!error) co_return Ending();
  co_return endingOf(error,
                     {Kind::kTimedOut, "no TLS handshake within " + durationText(kTransferLimit)},
                     {Kind::kClientLeft, "closed by the client during the TLS handshake"},
                     Kind::kHandshakeFailed, "TLS handshake failed: ");
}

// A new connection waits for its first request at least as long as a request head may take.
asio::awaitable<Connection::Ending> Connection::awaitRequest() {
  if (!input_.empty()) co_return Ending();
  std::chrono::milliseconds wait = settings_.keepAlive;
  if (requests_ == 0) wait = std::max<std::chrono::milliseconds>(wait, kTransferLimit);
  stream_->expiresAfter(wait);
  std::string().swap(input_);  // what the last request needed, given back while idle
  const error_code error = co_await readSome(kIdleReadBytes);
  if (!error) co_return Ending();
  co_return endingOf(
      error,
      {Kind::kIdle,
       requests_ == 0 ? "no request" : "idle for " + durationText(settings_.keepAlive)},
      {Kind::kClosedByClient, "closed by the client"}, Kind::kFailed, "reading failed: ");
}

// The request, its answer and their texts live in this frame alone, so that a connection
// waiting for its next request holds none of them.
asio::awaitable<Connection::Ending> Connection::handleRequest() {
  struct Release {
    Connection& connection;
    ~Release() { connection.releaseHeld(); }
  } release{*this};
  RecordedRequest request;
  bool clientKeeps = true;
  const Ending ending = co_await readRequest(request, clientKeeps);
  if (!ending.goesOn()) co_return ending;
  const EmulatorResponse answer = handler_(request, Arrival{id_, requests_});
  std::string next;
  if (answer.morePieces && answer.morePieces(next)) {
    co_return co_await stream(answer, std::move(next), clientKeeps);
  }
  const Outgoing out = prepare(answer, clientKeeps, Framing::kLength);
  co_return co_await deliver(out, answer.delivery);
}

asio::awaitable<Connection::Ending> Connection::readRequest(RecordedRequest& request,
                                                            bool& clientKeeps) {
  const Ending cutShort{Kind::kClientLeft, "closed by the client within a request"};
  stream_->expiresAfter(kTransferLimit);
  size_t headEnd;
  while ((headEnd = input_.find("\r\n\r\n")) == std::string::npos) {
    if (input_.size() > kMaxHeadBytes) co_return co_await refuse();
    const error_code error = co_await readSome(kHeadReadBytes, 1);
    if (error == asio::error::no_buffer_space) co_return co_await refuse(true);
    if (error) {
      co_return endingOf(
          error, {Kind::kTimedOut, "no whole request head within " + durationText(kTransferLimit)},
          cutShort, Kind::kFailed, "reading failed: ");
    }
  }
  ++requests_;
  request.headers = headerLinesOf(input_.substr(0, headEnd + 2));
  http::request_parser<http::string_body> parser;
  parser.header_limit(kMaxHeadBytes);
  parser.body_limit(std::min(kMaxBodyBytes, budget_.limit()));
  parser.eager(true);
  bool headerDone = false;
  bool bodyHeld = false;  // the whole body, of a known length, taken from the budget at once
  for (;;) {
    error_code error;
    input_.erase(0, parser.put(asio::buffer(input_), error));
    if (parser.is_done()) break;
    if (error == http::error::body_limit) co_return co_await refuse(true);
    if (error && error != http::error::need_more) co_return co_await refuse();
    if (!headerDone && parser.is_header_done()) {
      headerDone = true;
      // Beast reserves a known length at once: the budget does too.
      if (parser.content_length() && !holdBody(*parser.content_length())) {
        co_return co_await refuse(true);
      }
      bodyHeld = parser.content_length().has_value();
      if (expectsContinue(parser.get())) {
        const Ending ending = co_await send(buffersOf(kContinue, sizeof kContinue - 1));
        if (!ending.goesOn()) co_return ending;
      }
    }
    error = co_await readSome(kReadBytes, bodyHeld ? 0 : 2);
    if (error == asio::error::no_buffer_space) co_return co_await refuse(true);
    if (error) {
      co_return endingOf(
          error, {Kind::kTimedOut, "no whole request within " + durationText(kTransferLimit)},
          cutShort, Kind::kFailed, "reading failed: ");
    }
  }
  clientKeeps = parser.get().keep_alive();
  http11_ = parser.get().version() >= 11;
  request.method = std::string(parser.get().method_string());
  request.target = std::string(parser.get().target());
  request.body = std::move(parser.get().body());
  co_return Ending();
}

asio::awaitable<Connection::Ending> Connection::refuse(bool tooLarge) {
  const std::string answer = tooLarge ? kTooLarge : kBadRequest;
  const Ending ending = co_await send(buffersOf(answer.data(), answer.size()));
  if (!ending.goesOn()) co_return ending;
  if (!tooLarge) co_return Ending{Kind::kUnreadable, "unreadable request"};
  co_return Ending{Kind::kTooLarge, "request over the " + std::to_string(budget_.limit()) +
                                        " bytes of requests held at once: 413 sent"};
}

asio::awaitable<error_code> Connection::readSome(size_t most, size_t weight) {
  if (stopping_) co_return asio::error::operation_aborted;
  if (!budget_.take(most * weight)) co_return asio::error::no_buffer_space;
  const size_t had = input_.size();
  input_.resize(had + most);
  const auto [error, count] = co_await stream_->readSome(asio::buffer(&input_[had], most));
  const size_t got = error ? 0 : count;
  input_.resize(had + got);
  budget_.give((most - got) * weight);
  held_ += got * weight;
  co_return error;
}

bool Connection::holdBody(uint64_t length) {
  if (length > budget_.limit() || !budget_.take(static_cast<size_t>(length))) return false;
  held_ += static_cast<size_t>(length);
  return true;
}

void Connection::releaseHeld() {
  budget_.give(held_);
  held_ = 0;
}

Outgoing Connection::prepare(const EmulatorResponse& answer, bool clientKeeps,
                             Framing framing) const {
  http::response_header<> head;
  head.version(11);
  head.result(answer.status >= 100 && answer.status <= 999 ? static_cast<unsigned>(answer.status)
                                                           : 500u);
  if (!answer.contentType.empty()) head.set(http::field::content_type, answer.contentType);
  if (framing == Framing::kLength) {
    head.set(http::field::content_length, std::to_string(answer.body.size()));
  } else if (framing == Framing::kChunked) {
    head.set(http::field::transfer_encoding, "chunked");
  }
  Outgoing out;
  out.keepConnection = clientKeeps && framing != Framing::kClose && !settings_.closeConnections &&
                       settings_.keepAlive.count() > 0;
  if (out.keepConnection) {
    const int64_t seconds = (settings_.keepAlive.count() + 999) / 1000;
    head.set(http::field::keep_alive,
             "timeout=" + std::to_string(seconds) + ", max=" + kKeepAliveMax);
  } else {
    head.set(http::field::connection, "close");
    out.closing = {Kind::kAnswerCloses,
                   clientKeeps ? "answered with Connection: close" : "the client asked to close"};
  }
  std::ostringstream text;
  text << head;
  out.head = text.str();
  // The handler's own lines go out as they are, however long, before the blank line.
  out.head.resize(out.head.size() - 2);
  for (const std::string& line : answer.headers) out.head += line + "\r\n";
  out.head += "\r\n";
  out.body = answer.body;
  return out;
}

Connection::Ending Connection::endingOf(const error_code& error, Ending timedOut, Ending peerClosed,
                                        Kind failedKind, const std::string& failed) {
  if (error == beast::error::timeout) return timedOut;
  if (closedByPeer(error)) return peerClosed;
  if (stopping_) return stopping();
  failed_ = true;
  return {failedKind, failed + describe(error)};
}

}  // namespace server
