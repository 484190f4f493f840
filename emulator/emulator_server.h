// The HTTP side of the emulator: an HTTP/1.1 server on one local address, plain or over TLS,
// that hands every request, undecoded, to a handler and carries its answer out as the
// answer's delivery says. Connections are kept open between requests for the keep-alive
// time, or closed after every answer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "emulator_log.h"
#include "emulator_request.h"
#include "transport.h"

class EmulatorServer {
 public:
  // The answer to one request. Called on several threads at once.
  using Handler = std::function<EmulatorResponse(const RecordedRequest&, const Arrival&)>;

  struct Settings {
    int64_t keepAliveSeconds = 60;  // 0: close after every answer
    bool closeConnections = false;  // answer with "Connection: close" and close, every time
    TransportMaker* tls = nullptr;  // serves HTTPS with it when set; must outlive the server
  };

  // `log` must outlive the server; it gets a line for each connection opened and closed.
  EmulatorServer(Handler handler, const Settings& settings, EmulatorLog& log);
  ~EmulatorServer();
  EmulatorServer(const EmulatorServer&) = delete;
  EmulatorServer& operator=(const EmulatorServer&) = delete;

  // Binds and listens on `host`:`port` (0 picks a free port). The port the listening socket
  // got, or -1 on failure.
  int bind(const std::string& host, int port);

  // Serves until stop(); false when serving could not start.
  bool listen();

  // Makes listen() return soon; callable from any other thread while listen() runs or before.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
