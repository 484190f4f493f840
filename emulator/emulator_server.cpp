// httplib glue. Every method and path reaches the service, which routes by the raw target.
#include "emulator_server.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>

namespace {

int portOf(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) {
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
  }
  if (address.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  }
  return -1;
}

// True when `fd` is the TCP socket between `localPort` here and `remotePort` there.
bool isConnection(int fd, int localPort, int remotePort) {
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode)) return false;
  sockaddr_storage local{};
  sockaddr_storage peer{};
  socklen_t localSize = sizeof(local);
  socklen_t peerSize = sizeof(peer);
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) != 0) return false;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0) return false;
  return portOf(local) == localPort && portOf(peer) == remotePort;
}

// httplib gives a handler no access to its socket, so the connection is found among the
// process's descriptors by its two ports and shut down; httplib's own write then fails and
// it closes the descriptor as usual. The client sees the connection end without an answer.
void shutDownConnection(const httplib::Request& request) {
  struct DirClose {
    void operator()(DIR* dir) const { closedir(dir); }
  };
  std::unique_ptr<DIR, DirClose> dir(opendir("/proc/self/fd"));
  if (!dir) return;
  while (dirent* entry = readdir(dir.get())) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    int fd = std::atoi(entry->d_name);
    if (fd == dirfd(dir.get())) continue;
    if (isConnection(fd, request.local_port, request.remote_port)) {
      shutdown(fd, SHUT_RDWR);
      return;
    }
  }
}

EmulatorRequest toEmulatorRequest(const httplib::Request& request) {
  EmulatorRequest converted;
  converted.method = request.method;
  converted.target = request.target;
  for (const auto& header : request.headers) converted.headers.push_back(header);
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
  explicit Impl(EmulatorService& s) : service(s) {}
  EmulatorService& service;
  httplib::Server server;
};

EmulatorServer::EmulatorServer(EmulatorService& service) : impl_(new Impl(service)) {
  httplib::Server::Handler handler = [this](const httplib::Request& request,
                                            httplib::Response& response) {
    EmulatorResponse answer = impl_->service.handle(toEmulatorRequest(request));
    if (answer.dropConnection) {
      shutDownConnection(request);
      response.status = 500;
      return;
    }
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
}

EmulatorServer::~EmulatorServer() = default;

int EmulatorServer::bind(const std::string& host, int port) {
  if (port == 0) return impl_->server.bind_to_any_port(host);
  return impl_->server.bind_to_port(host, port) ? port : -1;
}

bool EmulatorServer::listen() { return impl_->server.listen_after_bind(); }

void EmulatorServer::stop() { impl_->server.stop(); }
