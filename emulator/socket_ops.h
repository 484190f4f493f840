// The socket calls of the emulator's connection layer, the same on every system: the one
// place where POSIX and Windows sockets differ, in namespace net. Connection sockets are
// non-blocking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
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

// A non-blocking socket listening on `host`:`port` (0: a free port) with a queue of `backlog`
// and TCP_NODELAY. It may take a port that only lingering connections hold (SO_REUSEADDR on
// POSIX), never one another socket listens on (no SO_REUSEPORT; SO_EXCLUSIVEADDRUSE on
// Windows). Empty on failure, with the reason in `error`.
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

// Waits until `socket` is readable (`read`) or writable (`write`), has failed or hung up, or
// `timeoutMs` has passed. 1 when ready, 0 on time-out (or an interrupted wait), -1 on failure.
int waitForSocket(SocketHandle socket, bool read, bool write, int timeoutMs);

// Watches many sockets at once. What each one waits for is kept until changed, so that on
// Linux (epoll) a wait costs in proportion to the sockets ready, not to all that are watched;
// elsewhere each wait polls them all.
class SocketPoller {
 public:
  SocketPoller();
  SocketPoller(const SocketPoller&) = delete;
  SocketPoller& operator=(const SocketPoller&) = delete;

  // False when the system could not give one.
  bool valid() const;

  // Watches `socket` for reading and/or writing from now on; neither stops watching it, which
  // must come before the socket is closed. `key` names the socket among the ready ones.
  void watch(SocketHandle socket, uint64_t key, bool read, bool write);

  // Waits until a watched socket is ready as asked, has failed or hung up, or `timeoutMs` has
  // passed (-1: no limit); `ready` gets the keys of the ready ones. False when waiting failed.
  bool wait(int timeoutMs, std::vector<uint64_t>& ready);

 private:
  struct Interest {
    uint64_t key;
    bool read;
    bool write;
  };
  std::unordered_map<SocketHandle, Interest> watched_;
  Socket epoll_;  // Linux only
};

// Why the last socket call of this thread failed, in the system's words.
std::string lastSocketError();

}  // namespace net
