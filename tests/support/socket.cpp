// TCP sockets for the tests' servers: winsock on Windows, BSD sockets elsewhere.
#include "support/socket.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstring>

namespace testing_support {

namespace {

#ifdef _WIN32
using Native = SOCKET;
const Native kInvalid = INVALID_SOCKET;
const int kSendFlags = 0;
using PollEntry = WSAPOLLFD;
int pollOne(PollEntry* entry, int timeoutMs) { return WSAPoll(entry, 1, timeoutMs); }

// winsock is started once for the process.
bool startSockets() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}
#else
using Native = int;
const Native kInvalid = -1;
const int kSendFlags = MSG_NOSIGNAL;
using PollEntry = pollfd;
int pollOne(PollEntry* entry, int timeoutMs) { return poll(entry, 1, timeoutMs); }
bool startSockets() { return true; }
#endif

Native native(SocketHandle socket) { return static_cast<Native>(socket); }
SocketHandle handle(Native socket) {
  return socket == kInvalid ? kNoSocket : static_cast<SocketHandle>(socket);
}

}  // namespace

namespace {

// A socket bound to a free port on 127.0.0.1, listening or not.
SocketHandle bindLoopback(int& port, bool listening) {
  if (!startSockets()) return kNoSocket;
  Native listener = ::socket(AF_INET, SOCK_STREAM, 0);
  if (listener == kInvalid) return kNoSocket;
  int one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof(one));
  sockaddr_in address;
  std::memset(&address, 0, sizeof(address));
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof(address);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      (listening && ::listen(listener, 64) != 0) ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    closeSocket(handle(listener));
    return kNoSocket;
  }
  port = ntohs(address.sin_port);
  return handle(listener);
}

}  // namespace

SocketHandle listenOnLoopback(int& port) { return bindLoopback(port, true); }

SocketHandle bindWithoutListening(int& port) { return bindLoopback(port, false); }

SocketHandle connectToLoopback(int port) {
  if (!startSockets()) return kNoSocket;
  Native connection = ::socket(AF_INET, SOCK_STREAM, 0);
  if (connection == kInvalid) return kNoSocket;
  sockaddr_in address;
  std::memset(&address, 0, sizeof(address));
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<unsigned short>(port));
  if (::connect(connection, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    closeSocket(handle(connection));
    return kNoSocket;
  }
  return handle(connection);
}

SocketHandle acceptConnection(SocketHandle listener) {
  return handle(::accept(native(listener), nullptr, nullptr));
}

bool waitReadable(SocketHandle socket, int timeoutMs) {
  PollEntry entry{};
  entry.fd = native(socket);
  entry.events = POLLIN;
  return pollOne(&entry, timeoutMs) > 0;
}

long receiveSome(SocketHandle socket, char* buffer, size_t size) {
  return static_cast<long>(::recv(native(socket), buffer, static_cast<int>(size), 0));
}

long sendSome(SocketHandle socket, const char* data, size_t size) {
  return static_cast<long>(::send(native(socket), data, static_cast<int>(size), kSendFlags));
}

void closeSocket(SocketHandle socket) {
  if (socket == kNoSocket) return;
#ifdef _WIN32
  closesocket(native(socket));
#else
  close(native(socket));
#endif
}

}  // namespace testing_support
