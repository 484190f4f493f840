// A scriptable HTTP/1.1 server on 127.0.0.1 for the tests: the test's script turned into the
// answers and deliveries of the emulator's HTTP server, which serves on a thread of its own.
#include "support/test_server.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <cstdio>

#include "server/tls_context.h"

namespace testing_support {

namespace {

std::string key(const std::string& method, const std::string& path) { return method + " " + path; }

}  // namespace

EmulatorResponse jsonAnswer(const std::string& body, int status) {
  return EmulatorResponse(status, body);
}

EmulatorResponse delivered(EmulatorResponse answer, Delivery delivery) {
  answer.delivery = delivery;
  return answer;
}

EmulatorResponse droppedAnswer() { return EmulatorResponse(0, "", Delivery::drop()); }

EmulatorResponse silentAnswer() { return EmulatorResponse(0, "", Delivery::hold()); }

// Bound to a free port without listening, so that connections to it are refused.
struct RefusingPort::Socket {
  boost::asio::io_context io;
  boost::asio::ip::tcp::acceptor acceptor{io};
};

RefusingPort::RefusingPort() : socket_(new Socket) {
  using boost::asio::ip::tcp;
  boost::system::error_code error;
  socket_->acceptor.open(tcp::v4(), error);
  socket_->acceptor.bind(tcp::endpoint(boost::asio::ip::address_v4::loopback(), 0), error);
  port_ = socket_->acceptor.local_endpoint(error).port();
}

RefusingPort::~RefusingPort() = default;

TestServer::TestServer(const TestServerOptions& options) : tls_(!options.tlsCertPath.empty()) {
  log_.discard();
  if (tls_) {
    std::string error;
    tlsContext_ = TlsContext::load(options.tlsCertPath, options.tlsKeyPath, error);
    // The server's own log is discarded: the test's output says why it serves no TLS.
    if (!tlsContext_) std::fprintf(stderr, "test server cannot serve TLS: %s\n", error.c_str());
  }
  HttpServer::Settings settings;
  settings.keepAlive = std::chrono::milliseconds(options.keepIdleMs);
  settings.tls = tlsContext_.get();
  settings.onClose = [this](uint64_t, const ConnectionEnd& end) {
    std::lock_guard<std::mutex> lock(mutex_);
    closings_.push_back(end);
  };
  server_ = std::make_unique<HttpServer>(
      [this](const RecordedRequest& request, const Arrival&) { return answer(request); }, settings,
      log_);
  std::string reason;
  port_ = server_->bind("127.0.0.1", 0, reason);
  thread_ = std::thread([this] { server_->listen(); });
}

TestServer::~TestServer() {
  server_->stop();
  thread_.join();
}

std::string TestServer::url() const {
  return (tls_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_);
}

void TestServer::on(const std::string& method, const std::string& path, Handler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  handlers_[key(method, path)] = std::move(handler);
}

void TestServer::onSequence(const std::string& method, const std::string& path,
                            std::vector<EmulatorResponse> answers) {
  auto script = std::make_shared<std::vector<EmulatorResponse>>(std::move(answers));
  auto next = std::make_shared<size_t>(0);
  on(method, path, [script, next](const RecordedRequest&) {
    size_t index = *next < script->size() ? (*next)++ : script->size() - 1;
    return (*script)[index];
  });
}

void TestServer::onAlways(const std::string& method, const std::string& path,
                          EmulatorResponse answer) {
  on(method, path, [answer](const RecordedRequest&) { return answer; });
}

std::vector<RecordedRequest> TestServer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::vector<ConnectionEnd> TestServer::closings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closings_;
}

std::vector<RecordedRequest> TestServer::requestsTo(const std::string& path) const {
  std::vector<RecordedRequest> matching;
  for (const RecordedRequest& request : requests()) {
    if (request.path() == path) matching.push_back(request);
  }
  return matching;
}

EmulatorResponse TestServer::answer(const RecordedRequest& request) {
  Handler handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    auto it = handlers_.find(key(request.method, request.path()));
    if (it != handlers_.end()) handler = it->second;
  }
  return handler ? handler(request) : jsonAnswer("{\"error\":\"no route\"}", 404);
}

}  // namespace testing_support
