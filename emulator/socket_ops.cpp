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
#ifdef __linux__
#include <sys/epoll.h>
#endif
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
bool abandoned() { return WSAGetLastError() == WSAECONNRESET; }
void closeNative(Native socket) { closesocket(socket); }
bool setNonBlocking(Native socket) {
  u_long on = 1;
  return ioctlsocket(socket, FIONBIO, &on) == 0;
}
bool startSystemSockets() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}
// Windows' SO_REUSEADDR would let another socket take a port in use; this refuses that.
const int kAddressOption = SO_EXCLUSIVEADDRUSE;
#else
using Native = int;
using PollEntry = pollfd;
const int kSendFlags = MSG_NOSIGNAL;
int pollNative(PollEntry* entries, size_t count, int timeoutMs) {
  return poll(entries, static_cast<nfds_t>(count), timeoutMs);
}
bool wouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK; }
bool interrupted() { return errno == EINTR; }
bool abandoned() { return errno == ECONNABORTED; }
void closeNative(Native socket) { close(socket); }
bool setNonBlocking(Native socket) {
  int flags = fcntl(socket, F_GETFL, 0);
  return flags >= 0 && fcntl(socket, F_SETFL, flags | O_NONBLOCK) == 0;
}
// A port whose last connections linger in TIME_WAIT can be listened on again at once.
const int kAddressOption = SO_REUSEADDR;
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
  setFlag(native(listener.get()), SOL_SOCKET, kAddressOption);
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
  // A client that gave up while waiting to be accepted, or a signal, costs only a new call.
  Socket connection;
  do {
    connection = Socket(handleOf(::accept(native(listener), nullptr, nullptr)));
  } while (!connection.valid() && (interrupted() || abandoned()));
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

#ifndef _WIN32
bool makeSocketPair(Socket& one, Socket& other) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) return false;
  one = Socket(handleOf(ends[0]));
  other = Socket(handleOf(ends[1]));
  return setNonBlocking(ends[0]) && setNonBlocking(ends[1]);
}
#else
// Windows has no socketpair: a pair over loopback TCP, whose accepted end must be the peer of
// the connecting one (another local program could connect first).
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
  setFlag(native(connecting.get()), IPPROTO_TCP, TCP_NODELAY);
  std::string ip;
  int connectingPort = 0;
  endpointOf(connecting.get(), false, ip, connectingPort);
  bool again = false;
  Socket accepted;
  if (waitForSocket(listener.get(), true, false, 5000) > 0) {
    accepted = acceptFrom(listener.get(), again, error);
  }
  int peerPort = -1;
  if (accepted.valid()) endpointOf(accepted.get(), true, ip, peerPort);
  if (peerPort != connectingPort || !setNonBlocking(native(connecting.get()))) return false;
  one = std::move(accepted);
  other = std::move(connecting);
  return true;
}
#endif

int waitForSocket(SocketHandle socket, bool read, bool write, int timeoutMs) {
  PollEntry entry{};
  entry.fd = native(socket);
  entry.events = static_cast<short>((read ? POLLIN : 0) | (write ? POLLOUT : 0));
  int count = pollNative(&entry, 1, timeoutMs);
  if (count < 0) return interrupted() ? 0 : -1;
  return count;
}

#ifdef __linux__

SocketPoller::SocketPoller() : epoll_(epoll_create1(EPOLL_CLOEXEC)) {}

bool SocketPoller::valid() const { return epoll_.valid(); }

void SocketPoller::watch(SocketHandle socket, uint64_t key, bool read, bool write) {
  auto found = watched_.find(socket);
  const bool known = found != watched_.end();
  if (known && found->second.key == key && found->second.read == read &&
      found->second.write == write) {
    return;
  }
  // A socket watched for nothing leaves the set: epoll would still report it hung up.
  if (!read && !write) {
    if (known) {
      epoll_ctl(native(epoll_.get()), EPOLL_CTL_DEL, native(socket), nullptr);
      watched_.erase(found);
    }
    return;
  }
  epoll_event event{};
  event.events = (read ? EPOLLIN : 0u) | (write ? EPOLLOUT : 0u);
  event.data.u64 = key;
  epoll_ctl(native(epoll_.get()), known ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, native(socket), &event);
  watched_[socket] = Interest{key, read, write};
}

bool SocketPoller::wait(int timeoutMs, std::vector<uint64_t>& ready) {
  epoll_event events[256];
  int count = epoll_wait(native(epoll_.get()), events, 256, timeoutMs);
  ready.clear();
  if (count < 0) return interrupted();
  for (int i = 0; i < count; ++i) ready.push_back(events[i].data.u64);
  return true;
}

#else

SocketPoller::SocketPoller() = default;

bool SocketPoller::valid() const { return true; }

void SocketPoller::watch(SocketHandle socket, uint64_t key, bool read, bool write) {
  if (!read && !write) {
    watched_.erase(socket);
  } else {
    watched_[socket] = Interest{key, read, write};
  }
}

bool SocketPoller::wait(int timeoutMs, std::vector<uint64_t>& ready) {
  std::vector<PollEntry> entries;
  std::vector<uint64_t> keys;
  for (const auto& watched : watched_) {
    PollEntry entry{};
    entry.fd = native(watched.first);
    entry.events = static_cast<short>((watched.second.read ? POLLIN : 0) |
                                      (watched.second.write ? POLLOUT : 0));
    entries.push_back(entry);
    keys.push_back(watched.second.key);
  }
  ready.clear();
  int count = pollNative(entries.data(), entries.size(), timeoutMs);
  if (count < 0) return interrupted();
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].revents != 0) ready.push_back(keys[i]);
  }
  return true;
}

#endif

std::string lastSocketError() {
#ifdef _WIN32
  return "socket error " + std::to_string(WSAGetLastError());
#else
  return std::strerror(errno);
#endif
}

}  // namespace net
