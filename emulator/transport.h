// The byte stream under one HTTP connection of the emulator: the plain socket, or TLS over it.
// Every call returns at once; one that cannot go on says which way the socket must become
// ready before it is tried again.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "socket_ops.h"

enum class IoStatus { kDone, kWantRead, kWantWrite, kClosed, kFailed };

struct IoResult {
  IoStatus status = IoStatus::kDone;
  size_t bytes = 0;  // moved, with kDone
};

class Transport {
 public:
  virtual ~Transport() = default;

  // False when there is no opening handshake (plain TCP), which handshake() completes at once.
  virtual bool hasHandshake() const = 0;
  // Goes on with the opening handshake; kDone once it is complete, kClosed when the peer left
  // during it.
  virtual IoResult handshake() = 0;
  // kDone with at least one byte, kClosed at the end of the stream.
  virtual IoResult read(char* buffer, size_t size) = 0;
  // kDone with at least one byte. A write that wanted the socket ready is repeated with the
  // same bytes or more (TLS needs them again).
  virtual IoResult write(const char* data, size_t size) = 0;
  // Tells the peer that nothing more comes, without waiting (TLS close_notify).
  virtual void finish() = 0;
  // Why the last call that gave kFailed failed, for the log.
  virtual std::string failure() const = 0;
  virtual net::SocketHandle socket() const = 0;
};

// Makes the transport of each accepted connection.
class TransportMaker {
 public:
  virtual ~TransportMaker() = default;
  // The transport over `socket`, which it owns from then on; null when it cannot be made.
  virtual std::unique_ptr<Transport> make(net::Socket socket) = 0;
  // "TLS" or "plain", for the log.
  virtual const char* name() const = 0;
};

// Plain TCP.
std::unique_ptr<TransportMaker> plainTransports();
