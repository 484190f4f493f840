// The socket calls of the emulator's connection layer, the same on every system: the one
// place where POSIX and Windows sockets differ, in namespace net. Connection sockets are
// non-blocking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace net {

// A socket as the system names it (a descriptor on POSIX, a SOCKET on Windows), widened.
using SocketHandle = std::intptr_t;
const SocketHandle kNoSocket = -1;

// Owns a socket and closes it when it ends.
class Socket {
 public:
  Socket() = default;
  explicit Socket(SocketHandle handle) : handle_(handle) {}
  ~Socket() { reset(); }
  Socket(Socket&& other) noexcept : handle_(other.release()) {}
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  SocketHandle get() const { return handle_; }
  bool valid() const { return handle_ != kNoSocket; }
  SocketHandle release();
  void reset(SocketHandle handle = kNoSocket);

 private:
  SocketHandle handle_ = kNoSocket;
};

// Makes sockets usable by this process: starts winsock on Windows; on POSIX systems keeps a
// write to a closed connection from raising SIGPIPE and raises the soft limit of open files to
// the hard one, for many connections. Idempotent; false when sockets cannot be used.
bool startSockets();

// A non-blocking socket listening on `host`:`port` (0: a free port) with a queue of `backlog`,
// SO_REUSEADDR but not SO_REUSEPORT (a taken port stays taken), and TCP_NODELAY. Empty on
// failure, with the reason in `error`.
Socket listenOn(const std::string& host, int port, int backlog, std::string& error);

// The local port of a bound socket, or -1.
int localPort(SocketHandle socket);

// The address and port of the peer (`peer`) or of the local end of a connected socket;
// "" and -1 when unknown.
void endpointOf(SocketHandle socket, bool peer, std::string& ip, int& port);

// The next connection waiting on the non-blocking `listener`, itself non-blocking and with
// TCP_NODELAY. Empty when none waits (`again` true) or accepting failed (`again` false,
// the reason in `error`).
Socket acceptFrom(SocketHandle listener, bool& again, std::string& error);

// Results of receiveSome and sendSome besides a byte count; receiveSome gives 0 when the peer
// has closed.
const long kWouldBlock = -1;
const long kSocketFailed = -2;

long receiveSome(SocketHandle socket, char* buffer, size_t size);
long sendSome(SocketHandle socket, const char* data, size_t size);

// A connected pair of non-blocking sockets, to wake a thread waiting in waitForSockets.
bool makeSocketPair(Socket& one, Socket& other);

// One socket to wait for, and what for.
struct SocketWatch {
  SocketHandle socket = kNoSocket;
  bool read = false;
  bool write = false;
  bool ready = false;  // out: readable or writable as asked, or failed, or hung up
};

// Waits until one of `watches` is ready or `timeoutMs` has passed (-1: no limit) and marks the
// ready ones. The number ready, 0 on time-out (or an interrupted wait), -1 on failure.
int waitForSockets(std::vector<SocketWatch>& watches, int timeoutMs);

// Why the last socket call of this thread failed, in the system's words.
std::string lastSocketError();

}  // namespace net
