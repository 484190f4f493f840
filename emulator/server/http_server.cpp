// The listening side of the server and its lifetime: accepting connections, keeping track of
// the live ones so that a stop reaches each, and stop requests from signals.
//
// Connections are C++20 coroutines: reading a request, waiting, dripping and holding an
// answer then read as the sequence they are, where callbacks would scatter each of them over
// several functions and objects that must keep themselves alive.
#include "server/http_server.h"

#include <atomic>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <csignal>
#include <exception>
#include <map>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "server/connection.h"

namespace asio = boost::asio;
using asio::ip::tcp;

namespace {

constexpr auto kAwait = asio::as_tuple(asio::use_awaitable);
// Room for many clients connecting at once; the system caps it at its own maximum.
const int kListenBacklog = 4096;
// After accepting failed (out of descriptors, say), the server rests this long.
const std::chrono::milliseconds kAcceptPause{100};
// How often freed memory is given back to the system while the server is busy.
const std::chrono::seconds kTrimPeriod{1};

}  // namespace

struct HttpServer::Impl {
  Impl(Handler handler, const Settings& settings, EmulatorLog& log)
      : handler([this, inner = std::move(handler)](const RecordedRequest& request,
                                                   const Arrival& arrival) {
          ++activity;
          return inner(request, arrival);
        }),
        settings(settings),
        log(log) {}

  asio::awaitable<void> acceptConnections();
  asio::awaitable<void> returnFreedMemory();
  void serve(std::unique_ptr<server::ByteStream> stream);
  void stopAll();

  const Handler handler;
  const Settings settings;
  EmulatorLog& log;
  asio::io_context io{1};
  tcp::acceptor acceptor{io};
  asio::signal_set signals{io};
  asio::steady_timer trimPeriod{io};
  server::RequestBudget budget{settings.requestBytes};
  // The connections being served, owned here until their coroutine ends; touched on the
  // serving thread only.
  std::map<uint64_t, std::unique_ptr<server::Connection>> live;
  uint64_t nextId = 1;
  std::atomic<size_t> accepted{0};
  uint64_t activity = 0;  // connections opened and ended, requests handled
  bool stopping = false;
};

asio::awaitable<void> HttpServer::Impl::acceptConnections() {
  asio::steady_timer rest(io);
  while (!stopping) {
    auto [error, socket] = co_await acceptor.async_accept(kAwait);
    if (stopping) break;
    if (error) {
      log.line("cannot accept a connection: " + error.message());
      rest.expires_after(kAcceptPause);
      co_await rest.async_wait(kAwait);
      continue;
    }
    boost::system::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    ++accepted;
    ++activity;
    serve(settings.tls ? server::tlsStream(std::move(socket), *settings.tls)
                       : server::plainStream(std::move(socket)));
  }
}

// The connection is forgotten however its coroutine ends: one that ends by an exception (a
// library's, such as running out of memory) leaves nothing behind but a log line.
void HttpServer::Impl::serve(std::unique_ptr<server::ByteStream> stream) {
  const uint64_t id = nextId++;
  auto connection = std::make_unique<server::Connection>(id, std::move(stream), io.get_executor(),
                                                         handler, settings, budget, log);
  server::Connection& served = *connection;
  live[id] = std::move(connection);
  asio::co_spawn(io, served.serve(), [this, id](std::exception_ptr failure) {
    if (failure) log.line("connection " + std::to_string(id) + " ended by an error");
    live.erase(id);
    ++activity;
  });
}

// glibc keeps the pages of freed memory that lie inside its heap: after a crowd of handshakes
// and requests the process would keep its peak for good, and the peak itself grows as what a
// burst freed stays resident beside what the next one takes. Once a second, when anything
// happened, those pages go back to the system.
asio::awaitable<void> HttpServer::Impl::returnFreedMemory() {
#ifdef __GLIBC__
  uint64_t trimmedAt = activity;
  while (!stopping) {
    trimPeriod.expires_after(kTrimPeriod);
    auto [error] = co_await trimPeriod.async_wait(kAwait);
    if (error || stopping) break;
    if (activity == trimmedAt) continue;
    trimmedAt = activity;
    malloc_trim(0);
  }
#endif
  co_return;
}

void HttpServer::Impl::stopAll() {
  stopping = true;
  boost::system::error_code ignored;
  acceptor.close(ignored);
  signals.cancel(ignored);
  trimPeriod.cancel();
  for (auto& entry : live) entry.second->stop();
}

bool isLoopbackAddress(const std::string& host) {
  boost::system::error_code error;
  const asio::ip::address address = asio::ip::make_address(host, error);
  return !error && address.is_loopback();
}

HttpServer::HttpServer(Handler handler, const Settings& settings, EmulatorLog& log)
    : impl_(new Impl(std::move(handler), settings, log)) {}

HttpServer::~HttpServer() = default;

int HttpServer::bind(const std::string& host, int port, std::string& reason) {
  boost::system::error_code error;
  const tcp::endpoint endpoint(asio::ip::make_address(host, error), static_cast<uint16_t>(port));
  if (!error) impl_->acceptor.open(endpoint.protocol(), error);
#ifndef _WIN32
  // Lets a restarted server take its port at once; Windows would let two servers share it.
  if (!error) impl_->acceptor.set_option(tcp::acceptor::reuse_address(true), error);
#endif
  if (!error) impl_->acceptor.bind(endpoint, error);
  if (!error) impl_->acceptor.listen(kListenBacklog, error);
  if (error) {
    reason = error.message();
    impl_->log.line("cannot listen on " + host + ":" + std::to_string(port) + ": " + reason);
    boost::system::error_code ignored;
    impl_->acceptor.close(ignored);
    return -1;
  }
  return impl_->acceptor.local_endpoint(error).port();
}

bool HttpServer::listen() {
  if (!impl_->acceptor.is_open()) return false;
  asio::co_spawn(impl_->io, impl_->acceptConnections(), asio::detached);
  asio::co_spawn(impl_->io, impl_->returnFreedMemory(), asio::detached);
  impl_->io.run();
  return true;
}

void HttpServer::stop() {
  Impl* impl = impl_.get();
  asio::post(impl->io, [impl] { impl->stopAll(); });
}

void HttpServer::stopOnSignals(std::function<void(const std::string& reason)> onSignal) {
  boost::system::error_code ignored;
  impl_->signals.add(SIGINT, ignored);
  impl_->signals.add(SIGTERM, ignored);
#ifdef SIGBREAK
  impl_->signals.add(SIGBREAK, ignored);
#endif
  Impl* impl = impl_.get();
  impl_->signals.async_wait([impl, onSignal](const boost::system::error_code& error, int number) {
    if (error) return;
    onSignal("signal " + std::to_string(number));
    impl->stopAll();
  });
}

size_t HttpServer::connectionsAccepted() const { return impl_->accepted; }
