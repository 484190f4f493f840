// The HTTP side of the emulator: an HTTP/1.1 server on one local address that hands every
// request, undecoded, to the EmulatorService and writes its answer back. It can first close
// a number of connections without answering, to play a failing network.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "emulator_service.h"

class EmulatorServer {
 public:
  // `service` must outlive the server. The first `dropConnections` connections are closed
  // once their request head has arrived, without an answer.
  EmulatorServer(EmulatorService& service, int64_t dropConnections);
  ~EmulatorServer();
  EmulatorServer(const EmulatorServer&) = delete;
  EmulatorServer& operator=(const EmulatorServer&) = delete;

  // Binds and listens on `host`:`port` (0 picks a free port). The port the listening socket
  // got, or -1 on failure.
  int bind(const std::string& host, int port);

  // Serves until stop(); false when serving could not start.
  bool listen();

  // Makes listen() return and waits until it has; callable from any other thread while
  // listen() runs or is about to.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
