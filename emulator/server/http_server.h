// The emulator's HTTP/1.1 server, on Boost.Beast and Boost.Asio: one local address, plain or
// over TLS, every connection a coroutine of one io_context (no thread per connection). Each
// request goes, undecoded and with its header lines as they arrived, to a handler, whose answer
// is carried out as its delivery says. Connections are kept between requests for the
// keep-alive time, or closed after every answer. The tests' scripted servers use it too.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "server/connection_end.h"
#include "server/emulator_log.h"
#include "server/emulator_response.h"
#include "server/recorded_request.h"

class TlsContext;

// True when `host` is an IPv4 or IPv6 loopback address, which only this machine reaches.
bool isLoopbackAddress(const std::string& host);

// How long a TLS handshake, the rest of a request head once it has begun, a request body,
// or one step of sending an answer may take.
const std::chrono::seconds kTransferLimit{10};

class HttpServer {
 public:
  // The answer to one request; called on the serving thread, one request at a time.
  using Handler = std::function<EmulatorResponse(const RecordedRequest&, const Arrival&)>;

  struct Settings {
    // How long a connection waits for its next request; zero: close after every answer.
    std::chrono::milliseconds keepAlive{std::chrono::seconds(60)};
    bool closeConnections = false;  // answer with "Connection: close" and close, every time
    TlsContext* tls = nullptr;      // serves HTTPS with it when set; must outlive the server
    // How many bytes of requests all connections hold at once, read and not yet answered; a
    // request that would take more is answered 413 and its connection closed. It also bounds
    // one request's body (at most 64 MiB).
    size_t requestBytes = 32 * 1024 * 1024;
    // Told how each connection ended, on the serving thread, after its log line.
    std::function<void(uint64_t connection, const ConnectionEnd& end)> onClose;
  };

  // `log` must outlive the server; it gets a line for each connection opened and closed.
  HttpServer(Handler handler, const Settings& settings, EmulatorLog& log);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Listens on `host`:`port` (0 picks a free port). The port it got, or -1 with the system's
  // reason in `reason` and a log line.
  int bind(const std::string& host, int port, std::string& reason);

  // Serves on the calling thread until stop(), then closes every connection; false when it
  // could not start.
  bool listen();

  // Makes listen() return soon; from any thread, also before listen() has begun.
  void stop();

  // Stops as stop() does on SIGINT or SIGTERM (and Ctrl-Break on Windows), after telling
  // `onSignal` which one came ("signal 15"). Call before listen().
  void stopOnSignals(std::function<void(const std::string& reason)> onSignal);

  // Connections accepted so far.
  size_t connectionsAccepted() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
