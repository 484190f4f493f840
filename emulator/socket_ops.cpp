// Sockets as each system has them: winsock on Windows, BSD sockets elsewhere.
#include "socket_ops.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace net {

namespace {

#ifdef _WIN32
using Native = SOCKET;
using PollEntry = WSAPOLLFD;
const int kSendFlags = 0;
int pollNative(PollEntry* entries, size_t count, int timeoutMs) {
  return WSAPoll(entries, static_cast<ULONG>(count), timeoutMs);
}
bool wouldBlock() { return WSAGetLastError() == WSAEWOULDBLOCK; }
bool interrupted() { return WSAGetLastError() == WSAEINTR; }
void closeNative(Native socket) { closesocket(socket); }
bool setNonBlocking(Native socket) {
  u_long on = 1;
  return ioctlsocket(socket, FIONBIO, &on) == 0;
}
bool startSystemSockets() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}
#else
using Native = int;
using PollEntry = pollfd;
const int kSendFlags = MSG_NOSIGNAL;
int pollNative(PollEntry* entries, size_t count, int timeoutMs) {
  return poll(entries, static_cast<nfds_t>(count), timeoutMs);
}
bool wouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK; }
bool interrupted() { return errno == EINTR; }
void closeNative(Native socket) { close(socket); }
bool setNonBlocking(Native socket) {
  int flags = fcntl(socket, F_GETFL, 0);
  return flags >= 0 && fcntl(socket, F_SETFL, flags | O_NONBLOCK) == 0;
}
// TLS writes through OpenSSL's own socket calls, which do not ask for MSG_NOSIGNAL.
bool startSystemSockets() {
  signal(SIGPIPE, SIG_IGN);
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  return true;
}
#endif

Native native(SocketHandle socket) { return static_cast<Native>(socket); }

SocketHandle handleOf(Native socket) {
#ifdef _WIN32
  if (socket == INVALID_SOCKET) return kNoSocket;
#else
  if (socket < 0) return kNoSocket;
#endif
  return static_cast<SocketHandle>(socket);
}

void setFlag(Native socket, int level, int name) {
  int on = 1;
  setsockopt(socket, level, name, reinterpret_cast<const char*>(&on), sizeof(on));
}

bool addressOf(const sockaddr_storage& address, std::string& ip, int& port) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    if (inet_ntop(AF_INET, &v4.sin_addr, text, sizeof(text)) == nullptr) return false;
    port = ntohs(v4.sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    if (inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof(text)) == nullptr) return false;
    port = ntohs(v6.sin6_port);
  } else {
    return false;
  }
  ip = text;
  return true;
}

}  // namespace

Socket& Socket::operator=(Socket&& other) noexcept {
  reset(other.release());
  return *this;
}

SocketHandle Socket::release() {
  SocketHandle handle = handle_;
  handle_ = kNoSocket;
  return handle;
}

void Socket::reset(SocketHandle handle) {
  if (handle_ != kNoSocket) closeNative(native(handle_));
  handle_ = handle;
}

bool startSockets() {
  static const bool started = startSystemSockets();
  return started;
}

Socket listenOn(const std::string& host, int port, int backlog, std::string& error) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
    error = "not an IPv4 address: " + host;
    return Socket();
  }
  Socket listener(handleOf(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)));
  if (!listener.valid()) {
    error = lastSocketError();
    return Socket();
  }
  setFlag(native(listener.get()), SOL_SOCKET, SO_REUSEADDR);
  // Accepted connections inherit it: an answer's last segment leaves at once instead of
  // waiting for the client's delayed acknowledgement of the one before.
  setFlag(native(listener.get()), IPPROTO_TCP, TCP_NODELAY);
  if (::bind(native(listener.get()), reinterpret_cast<const sockaddr*>(&address),
             sizeof(address)) != 0 ||
      ::listen(native(listener.get()), backlog) != 0 || !setNonBlocking(native(listener.get()))) {
    error = lastSocketError();
    return Socket();
  }
  return listener;
}

int localPort(SocketHandle socket) {
  std::string ip;
  int port = -1;
  endpointOf(socket, false, ip, port);
  return port;
}

void endpointOf(SocketHandle socket, bool peer, std::string& ip, int& port) {
  sockaddr_storage address{};
  socklen_t size = sizeof(address);
  sockaddr* where = reinterpret_cast<sockaddr*>(&address);
  int rc =
      peer ? getpeername(native(socket), where, &size) : getsockname(native(socket), where, &size);
  if (rc != 0 || !addressOf(address, ip, port)) {
    ip.clear();
    port = -1;
  }
}

Socket acceptFrom(SocketHandle listener, bool& again, std::string& error) {
  Socket connection(handleOf(::accept(native(listener), nullptr, nullptr)));
  again = !connection.valid() && wouldBlock();
  if (!connection.valid()) {
    if (!again) error = lastSocketError();
    return connection;
  }
  setFlag(native(connection.get()), IPPROTO_TCP, TCP_NODELAY);
  if (!setNonBlocking(native(connection.get()))) {
    error = lastSocketError();
    return Socket();
  }
  return connection;
}

long receiveSome(SocketHandle socket, char* buffer, size_t size) {
  int chunk = size > 1 << 30 ? 1 << 30 : static_cast<int>(size);
  long got = static_cast<long>(::recv(native(socket), buffer, chunk, 0));
  if (got >= 0) return got;
  return wouldBlock() ? kWouldBlock : kSocketFailed;
}

long sendSome(SocketHandle socket, const char* data, size_t size) {
  int chunk = size > 1 << 30 ? 1 << 30 : static_cast<int>(size);
  long sent = static_cast<long>(::send(native(socket), data, chunk, kSendFlags));
  if (sent >= 0) return sent;
  return wouldBlock() ? kWouldBlock : kSocketFailed;
}

// A pair over loopback TCP, which every system has (Windows has no socketpair).
bool makeSocketPair(Socket& one, Socket& other) {
  std::string error;
  Socket listener = listenOn("127.0.0.1", 0, 1, error);
  if (!listener.valid()) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(localPort(listener.get())));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Socket connecting(handleOf(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)));
  if (!connecting.valid() ||
      ::connect(native(connecting.get()), reinterpret_cast<const sockaddr*>(&address),
                sizeof(address)) != 0) {
    return false;
  }
  std::vector<SocketWatch> watch(1);
  watch[0].socket = listener.get();
  watch[0].read = true;
  bool again = false;
  Socket accepted;
  if (waitForSockets(watch, 5000) > 0) accepted = acceptFrom(listener.get(), again, error);
  if (!accepted.valid() || !setNonBlocking(native(connecting.get()))) return false;
  one = std::move(accepted);
  other = std::move(connecting);
  return true;
}

int waitForSockets(std::vector<SocketWatch>& watches, int timeoutMs) {
  std::vector<PollEntry> entries(watches.size());
  for (size_t i = 0; i < watches.size(); ++i) {
    entries[i].fd = native(watches[i].socket);
    entries[i].events =
        static_cast<short>((watches[i].read ? POLLIN : 0) | (watches[i].write ? POLLOUT : 0));
  }
  int count = pollNative(entries.data(), entries.size(), timeoutMs);
  if (count < 0) return interrupted() ? 0 : -1;
  for (size_t i = 0; i < watches.size(); ++i) watches[i].ready = entries[i].revents != 0;
  return count;
}

std::string lastSocketError() {
#ifdef _WIN32
  return "socket error " + std::to_string(WSAGetLastError());
#else
  return std::strerror(errno);
#endif
}

}  // namespace net
