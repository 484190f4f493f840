// A scriptable HTTP/1.1 server on 127.0.0.1 for the tests.
#include "support/test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>

namespace testing_support {

namespace {

std::string statusText(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 302:
      return "Found";
    case 401:
      return "Unauthorized";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

void sendAll(int fd, const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

// Reads until `buffer` holds at least `wanted` bytes, the peer closes, or 10 s pass.
bool readAtLeast(int fd, std::string& buffer, size_t wanted) {
  char chunk[65536];
  while (buffer.size() < wanted) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0) return false;
    ssize_t n = ::recv(fd, chunk, sizeof(chunk), 0);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<size_t>(n));
  }
  return true;
}

std::string key(const std::string& method, const std::string& path) { return method + " " + path; }

}  // namespace

Answer Answer::json(const std::string& body, int status) {
  Answer answer;
  answer.status = status;
  answer.body = body;
  return answer;
}

Answer Answer::drop() {
  Answer answer;
  answer.closeWithoutAnswer = true;
  return answer;
}

TestServer::TestServer() {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in address;
  std::memset(&address, 0, sizeof(address));
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  ::listen(listenFd_, 64);
  socklen_t length = sizeof(address);
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  thread_ = std::thread(&TestServer::serve, this);
}

TestServer::~TestServer() {
  stopping_ = true;
  thread_.join();
  ::close(listenFd_);
}

std::string TestServer::url() const { return "http://127.0.0.1:" + std::to_string(port_); }

void TestServer::on(const std::string& method, const std::string& path, Handler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  handlers_[key(method, path)] = std::move(handler);
}

void TestServer::onSequence(const std::string& method, const std::string& path,
                            std::vector<Answer> answers) {
  auto script = std::make_shared<std::vector<Answer>>(std::move(answers));
  auto next = std::make_shared<size_t>(0);
  on(method, path, [script, next](const RecordedRequest&) {
    size_t index = *next < script->size() ? (*next)++ : script->size() - 1;
    return (*script)[index];
  });
}

void TestServer::onAlways(const std::string& method, const std::string& path, Answer answer) {
  on(method, path, [answer](const RecordedRequest&) { return answer; });
}

std::vector<RecordedRequest> TestServer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::vector<RecordedRequest> TestServer::requestsTo(const std::string& path) const {
  std::vector<RecordedRequest> matching;
  for (const RecordedRequest& request : requests()) {
    if (request.path() == path) matching.push_back(request);
  }
  return matching;
}

void TestServer::serve() {
  while (!stopping_) {
    pollfd p = {listenFd_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    int fd = ::accept(listenFd_, nullptr, nullptr);
    if (fd < 0) continue;
    ++connections_;
    handleConnection(fd);
    ::close(fd);
  }
}

Answer TestServer::dispatch(const RecordedRequest& request) {
  Handler handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    auto it = handlers_.find(key(request.method, request.path()));
    if (it != handlers_.end()) handler = it->second;
  }
  if (!handler) return Answer::json("{\"error\":\"no route\"}", 404);
  return handler(request);
}

void TestServer::holdUntilClientCloses(int fd) {
  char chunk[4096];
  while (!stopping_) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 100) == 0) continue;
    if (::recv(fd, chunk, sizeof(chunk), 0) <= 0) return;
  }
}

void TestServer::handleConnection(int fd) {
  std::string buffer;
  size_t end;
  while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
    if (!readAtLeast(fd, buffer, buffer.size() + 1)) return;
  }
  RecordedRequest request;
  std::string head = buffer.substr(0, end);
  size_t lineEnd = head.find("\r\n");
  std::string requestLine = head.substr(0, lineEnd);
  size_t firstBlank = requestLine.find(' ');
  size_t secondBlank = requestLine.rfind(' ');
  request.method = requestLine.substr(0, firstBlank);
  request.target = requestLine.substr(firstBlank + 1, secondBlank - firstBlank - 1);
  size_t contentLength = 0;
  while (lineEnd != std::string::npos) {
    size_t next = head.find("\r\n", lineEnd + 2);
    std::string line = head.substr(
        lineEnd + 2, next == std::string::npos ? std::string::npos : next - lineEnd - 2);
    request.headers.push_back(line);
    lineEnd = next;
  }
  if (request.hasHeader("Content-Length")) {
    contentLength = std::stoul(request.header("Content-Length"));
  }
  if (strcasecmp(request.header("Expect").c_str(), "100-continue") == 0) {
    sendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n");
  }
  if (!readAtLeast(fd, buffer, end + 4 + contentLength)) return;
  request.body = buffer.substr(end + 4, contentLength);

  Answer answer = dispatch(request);
  if (answer.delayMs > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(answer.delayMs));
  }
  if (answer.closeWithoutAnswer) return;
  if (answer.stall && !answer.cutMidBody) {
    holdUntilClientCloses(fd);
    return;
  }
  std::string response =
      "HTTP/1.1 " + std::to_string(answer.status) + " " + statusText(answer.status) + "\r\n";
  if (!answer.contentType.empty()) response += "Content-Type: " + answer.contentType + "\r\n";
  for (const std::string& line : answer.headers) response += line + "\r\n";
  response += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
  response += "Connection: close\r\n\r\n";
  if (answer.cutMidBody) {
    response += answer.body.substr(0, answer.body.size() / 2);
    sendAll(fd, response);
    if (answer.stall) holdUntilClientCloses(fd);
    return;
  }
  response += answer.body;
  if (answer.dripBytesPerSecond > 0) {
    for (size_t i = 0; i < response.size() && !stopping_; ++i) {
      if (::send(fd, &response[i], 1, MSG_NOSIGNAL) != 1) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1000 / answer.dripBytesPerSecond));
    }
    return;
  }
  sendAll(fd, response);
}

}  // namespace testing_support
