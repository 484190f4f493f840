// The HTTP side of the emulator: an HTTP/1.1 server on one local address that hands every
// request, undecoded, to the EmulatorService and writes its answer back.
#pragma once

#include <memory>
#include <string>

#include "emulator_service.h"

class EmulatorServer {
 public:
  // `service` must outlive the server.
  explicit EmulatorServer(EmulatorService& service);
  ~EmulatorServer();
  EmulatorServer(const EmulatorServer&) = delete;
  EmulatorServer& operator=(const EmulatorServer&) = delete;

  // Binds `host`:`port` (0 picks a free port). The bound port, or -1 on failure.
  int bind(const std::string& host, int port);

  // Serves until stop(); false when serving could not start.
  bool listen();

  // Makes listen() return; callable from any thread.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
