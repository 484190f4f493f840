// httplib glue. Every method and path reaches the service, which routes by the raw target.
#include "emulator_server.h"

#include <httplib.h>
#ifndef _WIN32
#include <poll.h>
#endif

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// Room for many clients connecting at once; the system caps it at its own maximum.
const int kListenBacklog = 4096;

#ifdef _WIN32
int pollSockets(WSAPOLLFD* fds, unsigned long count, int timeoutMs) {
  return WSAPoll(fds, count, timeoutMs);
}
using PollEntry = WSAPOLLFD;
void closeSocket(socket_t sock) {
  shutdown(sock, SD_BOTH);
  closesocket(sock);
}
#else
int pollSockets(pollfd* fds, nfds_t count, int timeoutMs) { return poll(fds, count, timeoutMs); }
using PollEntry = pollfd;
void closeSocket(socket_t sock) {
  shutdown(sock, SHUT_RDWR);
  close(sock);
}
#endif

// True when `sock` has something to read within `timeoutMs`.
bool readable(socket_t sock, int timeoutMs) {
  PollEntry entry{};
  entry.fd = sock;
  entry.events = POLLIN;
  return pollSockets(&entry, 1, timeoutMs) > 0;
}

// The request line of what arrives on `sock` within a few seconds, read up to the end of
// the request head.
RecordedRequest readRequestHead(socket_t sock) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536 &&
         readable(sock, 5000)) {
    auto got = recv(sock, buffer, sizeof(buffer), 0);
    if (got <= 0) break;
    head.append(buffer, static_cast<size_t>(got));
  }
  RecordedRequest request;
  std::string line = head.substr(0, head.find("\r\n"));
  size_t first = line.find(' ');
  size_t last = line.rfind(' ');
  if (first != std::string::npos && last > first) {
    request.method = line.substr(0, first);
    request.target = line.substr(first + 1, last - first - 1);
  }
  return request;
}

RecordedRequest toRecordedRequest(const httplib::Request& request) {
  RecordedRequest converted;
  converted.method = request.method;
  converted.target = request.target;
  for (const auto& header : request.headers) {
    converted.headers.push_back(header.first + ":" + header.second);
  }
  converted.body = request.body;
  return converted;
}

// HTTP/1.1 gives a request without Content-Length or Transfer-Encoding an empty body, but
// httplib would read a POST or PUT body until the connection closes. The client's token
// request is such a POST, so these requests are answered before any body is read.
bool announcesBody(const httplib::Request& request) {
  return request.has_header("Content-Length") || request.has_header("Transfer-Encoding");
}

}  // namespace

struct EmulatorServer::Impl {
  Impl(EmulatorService& s, int64_t drops) : service(s), dropsLeft(drops) {}

  // Closes connections without an answer while drops are left, before httplib serves.
  void dropConnections() {
    while (dropsLeft > 0 && !stopping) {
      if (!readable(listenSocket, 100)) continue;
      socket_t connection = accept(listenSocket, nullptr, nullptr);
      if (connection == INVALID_SOCKET) continue;
      service.noteDropped(readRequestHead(connection));
      closeSocket(connection);
      --dropsLeft;
    }
  }

  EmulatorService& service;
  httplib::Server server;
  socket_t listenSocket = INVALID_SOCKET;
  int64_t dropsLeft;
  std::atomic<bool> stopping{false};
  std::atomic<bool> listened{false};
};

EmulatorServer::EmulatorServer(EmulatorService& service, int64_t dropConnections)
    : impl_(new Impl(service, dropConnections)) {
  httplib::Server::Handler handler = [this](const httplib::Request& request,
                                            httplib::Response& response) {
    EmulatorResponse answer = impl_->service.handle(toRecordedRequest(request));
    response.status = answer.status;
    response.set_content(answer.body, "application/json");
  };
  impl_->server.set_pre_routing_handler(
      [handler](const httplib::Request& request, httplib::Response& response) {
        if (announcesBody(request)) return httplib::Server::HandlerResponse::Unhandled;
        handler(request, response);
        return httplib::Server::HandlerResponse::Handled;
      });
  impl_->server.Get(".*", handler);
  impl_->server.Post(".*", handler);
  impl_->server.Put(".*", handler);
  impl_->server.Delete(".*", handler);
  impl_->server.Patch(".*", handler);
  impl_->server.Options(".*", handler);
  // httplib hands its own listening socket to this hook before binding it; keep it. Unlike
  // httplib's default, no SO_REUSEPORT: a second emulator must not share a taken port.
  // TCP_NODELAY, which accepted connections inherit: an answer's last segment leaves at once
  // instead of waiting for the client's delayed acknowledgement of the one before.
  impl_->server.set_socket_options([this](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof(yes));
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes), sizeof(yes));
    impl_->listenSocket = sock;
  });
}

EmulatorServer::~EmulatorServer() = default;

int EmulatorServer::bind(const std::string& host, int port) {
  if (!impl_->server.bind_to_port(host, port) || impl_->listenSocket == INVALID_SOCKET) return -1;
  // httplib listens with a backlog of 5, which makes clients that come at once wait for SYN
  // retries; listening again widens the queue.
  if (::listen(impl_->listenSocket, kListenBacklog) != 0) return -1;
  sockaddr_storage address{};
  socklen_t size = sizeof(address);
  if (getsockname(impl_->listenSocket, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    return -1;
  }
  if (address.ss_family == AF_INET) {
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
  }
  if (address.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  }
  return -1;
}

bool EmulatorServer::listen() {
  impl_->dropConnections();
  bool served = impl_->stopping || impl_->server.listen_after_bind();
  impl_->listened = true;
  return served;
}

// httplib stops only a server already running: a stop that comes before it runs is repeated
// until listen() has returned.
void EmulatorServer::stop() {
  impl_->stopping = true;
  while (!impl_->listened) {
    impl_->server.stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}
