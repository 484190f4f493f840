// A scriptable HTTP/1.1 server on 127.0.0.1 for the tests.
#include "support/test_server.h"

#include <chrono>
#include <cstring>
#include <memory>

#include "util/ascii.h"

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

void sendAll(SocketHandle fd, const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    long n = sendSome(fd, data.data() + sent, data.size() - sent);
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

std::string key(const std::string& method, const std::string& path) { return method + " " + path; }

}  // namespace

Answer Answer::json(const std::string& body, int status) {
  Answer answer;
  answer.status = status;
  answer.body = body;
  return answer;
}

Answer Answer::silence() {
  Answer answer;
  answer.stall = true;
  return answer;
}

Answer Answer::drop() {
  Answer answer;
  answer.closeWithoutAnswer = true;
  return answer;
}

TestServer::TestServer() {
  listenFd_ = listenOnLoopback(port_);
  thread_ = std::thread(&TestServer::serve, this);
}

TestServer::~TestServer() {
  stopping_ = true;
  thread_.join();
  closeSocket(listenFd_);
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
    if (!waitReadable(listenFd_, 50)) continue;
    SocketHandle fd = acceptConnection(listenFd_);
    if (fd == kNoSocket) continue;
    ++connections_;
    handleConnection(fd);
    closeSocket(fd);
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

bool TestServer::readAtLeast(SocketHandle fd, std::string& buffer, size_t wanted, int timeoutMs) {
  char chunk[65536];
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (buffer.size() < wanted) {
    if (stopping_ || std::chrono::steady_clock::now() > until) return false;
    if (!waitReadable(fd, 50)) continue;
    long n = receiveSome(fd, chunk, sizeof(chunk));
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<size_t>(n));
  }
  return true;
}

void TestServer::holdUntilClientCloses(SocketHandle fd) {
  char chunk[4096];
  while (!stopping_) {
    if (!waitReadable(fd, 100)) continue;
    if (receiveSome(fd, chunk, sizeof(chunk)) <= 0) return;
  }
}

void TestServer::handleConnection(SocketHandle fd) {
  std::string buffer;
  while (serveRequest(fd, buffer)) {
    // A kept connection waits for its next request for the idle time at most.
    if (buffer.empty() && !readAtLeast(fd, buffer, 1, keepIdleMs_)) return;
  }
}

bool TestServer::serveRequest(SocketHandle fd, std::string& buffer) {
  size_t end;
  while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
    if (!readAtLeast(fd, buffer, buffer.size() + 1)) return false;
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
  if (equalsIgnoreCase(request.header("Expect"), "100-continue")) {
    sendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n");
  }
  if (!readAtLeast(fd, buffer, end + 4 + contentLength)) return false;
  request.body = buffer.substr(end + 4, contentLength);
  buffer.erase(0, end + 4 + contentLength);

  Answer answer = dispatch(request);
  if (answer.delayMs > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(answer.delayMs));
  }
  if (answer.closeWithoutAnswer) return false;
  if (answer.stall && !answer.cutMidBody) {
    holdUntilClientCloses(fd);
    return false;
  }
  std::string response =
      "HTTP/1.1 " + std::to_string(answer.status) + " " + statusText(answer.status) + "\r\n";
  if (!answer.contentType.empty()) response += "Content-Type: " + answer.contentType + "\r\n";
  for (const std::string& line : answer.headers) response += line + "\r\n";
  response += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
  const bool keep = keepIdleMs_ > 0;
  response += keep ? "\r\n" : "Connection: close\r\n\r\n";
  if (answer.cutMidBody) {
    response += answer.body.substr(0, answer.body.size() / 2);
    sendAll(fd, response);
    if (answer.stall) holdUntilClientCloses(fd);
    return false;
  }
  response += answer.body;
  if (answer.dripBytesPerSecond > 0) {
    for (size_t i = 0; i < response.size() && !stopping_; ++i) {
      if (sendSome(fd, &response[i], 1) != 1) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1000 / answer.dripBytesPerSecond));
    }
    return false;
  }
  sendAll(fd, response);
  return keep;
}

}  // namespace testing_support
