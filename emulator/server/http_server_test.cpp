// The emulator's HTTP server over real sockets on 127.0.0.1: connections kept between
// requests and closed when idle, one connection per request when asked, every delivery as a
// client sees it, many kept connections at once, and HTTPS.
#include "server/http_server.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "server/tls_context.h"
#include "support/file_util.h"
#include "support/test_certificates.h"
#include "support/wait.h"

using namespace testing_support;
namespace asio = boost::asio;

namespace {

using Clock = std::chrono::steady_clock;

long long millisSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Answers "/drop", "/garbage", "/delay" (2 s) and "/drip" (200 bytes a second) with that
// delivery, "/pieces" with "first" and two more pieces, anything else at once; each other body
// tells where its request came from.
EmulatorResponse answerWithPlace(const RecordedRequest& request, const Arrival& arrival) {
  if (request.path() == "/pieces") {
    EmulatorResponse pieces(200, "first");
    auto count = std::make_shared<int>(0);
    pieces.morePieces = [count](std::string& piece) {
      if (++*count > 2) return false;
      piece += "piece " + std::to_string(*count);
      return true;
    };
    return pieces;
  }
  Delivery delivery;
  if (request.path() == "/drop") delivery = Delivery::drop();
  if (request.path() == "/garbage") delivery = Delivery::garbage();
  if (request.path() == "/delay") delivery = Delivery::delay(2000);
  if (request.path() == "/drip") delivery = Delivery::drip(200);
  return EmulatorResponse(200,
                          "connection " + std::to_string(arrival.connection) + " request " +
                              std::to_string(arrival.requestOnConnection),
                          delivery);
}

std::string get(const std::string& path) {
  return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

// How many whole answers `bytes` holds, each with its Content-Length body.
size_t wholeAnswers(const std::string& bytes) {
  size_t count = 0;
  size_t start = 0;
  for (;;) {
    size_t headEnd = bytes.find("\r\n\r\n", start);
    size_t length = bytes.find("Content-Length: ", start);
    if (headEnd == std::string::npos || length == std::string::npos || length > headEnd) break;
    size_t end = headEnd + 4 + std::strtoul(bytes.c_str() + length + 16, nullptr, 10);
    if (end > bytes.size()) break;
    ++count;
    start = end;
  }
  return count;
}

// What a raw client got: the bytes, in how many reads, and whether the server closed.
struct Received {
  std::string bytes;
  int pieces = 0;
  bool closed = false;
};

// A raw TCP client: bytes out, bytes in, every wait bounded.
class RawClient {
 public:
  explicit RawClient(int port) {
    boost::system::error_code error;
    socket_.connect({asio::ip::address_v4::loopback(), static_cast<uint16_t>(port)}, error);
    EXPECT_FALSE(error) << error.message();
  }

  bool send(const std::string& bytes) {
    boost::system::error_code error;
    return asio::write(socket_, asio::buffer(bytes), error) == bytes.size();
  }

  // Reads until `answers` whole answers came (0: until the server closes), or nothing came
  // for five seconds.
  Received receive(size_t answers) {
    Received got;
    char buffer[4096];
    while ((answers == 0 || wholeAnswers(got.bytes) < answers) && readable(5000)) {
      boost::system::error_code error;
      size_t n = socket_.read_some(asio::buffer(buffer), error);
      if (error) {
        got.closed = true;
        break;
      }
      got.bytes.append(buffer, n);
      ++got.pieces;
    }
    return got;
  }

  asio::ip::tcp::socket& socket() { return socket_; }

 private:
  bool readable(int timeoutMs) {
    bool ready = false;
    io_.restart();
    socket_.async_wait(asio::socket_base::wait_read,
                       [&ready](const boost::system::error_code& error) { ready = !error; });
    io_.run_for(std::chrono::milliseconds(timeoutMs));
    if (!io_.stopped()) {
      socket_.cancel();
      io_.run();
    }
    return ready;
  }

  asio::io_context io_;
  asio::ip::tcp::socket socket_{io_};
};

class HttpServerTest : public ::testing::Test {
 protected:
  ~HttpServerTest() override {
    stop();
    removeTree(dir_);
  }

  void start(HttpServer::Settings settings = HttpServer::Settings()) {
    ASSERT_TRUE(log_.openFile(dir_ + "/emulator.log"));
    settings.onClose = [this](uint64_t connection, const ConnectionEnd& end) {
      std::lock_guard<std::mutex> lock(mutex_);
      ends_[connection] = end.kind;
    };
    server_ = std::make_unique<HttpServer>(answerWithPlace, settings, log_);
    std::string reason;
    port_ = server_->bind("127.0.0.1", 0, reason);
    ASSERT_GT(port_, 0);
    serving_ = std::thread([this] { served_ = server_->listen(); });
  }

  void stop() {
    if (!serving_.joinable()) return;
    server_->stop();
    serving_.join();
    EXPECT_TRUE(served_);
  }

  // How many connections ended as `kind`.
  size_t endedAs(ConnectionEnd::Kind kind) {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t count = 0;
    for (const auto& end : ends_) count += end.second == kind ? 1 : 0;
    return count;
  }

  ConnectionEnd::Kind endOf(uint64_t connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    return ends_.count(connection) != 0 ? ends_[connection] : ConnectionEnd::Kind::kNone;
  }

  size_t logCount(const std::string& text) const {
    return countOf(readFile(dir_ + "/emulator.log"), text);
  }

  std::string dir_ = makeTempDir();
  EmulatorLog log_;
  std::unique_ptr<HttpServer> server_;
  int port_ = 0;
  std::thread serving_;
  bool served_ = false;
  std::mutex mutex_;
  std::map<uint64_t, ConnectionEnd::Kind> ends_;  // by connection
};

TEST_F(HttpServerTest, KeepsAConnectionForItsRequestsAndClosesItWhenIdle) {
  HttpServer::Settings settings;
  settings.keepAlive = std::chrono::seconds(1);
  start(settings);
  // Both requests in one write: the second waits in the connection's input meanwhile.
  RawClient client(port_);
  ASSERT_TRUE(client.send(get("/first") + get("/second")));
  Received answers = client.receive(2);
  EXPECT_EQ(wholeAnswers(answers.bytes), 2u) << answers.bytes;
  EXPECT_EQ(countOf(answers.bytes, "Keep-Alive: timeout=1, max="), 2u) << answers.bytes;
  EXPECT_NE(answers.bytes.find("connection 1 request 1HTTP/1.1 200 OK\r\n"), std::string::npos);
  EXPECT_NE(answers.bytes.find("connection 1 request 2"), std::string::npos);

  // A second server cannot share the port.
  HttpServer second(answerWithPlace, settings, log_);
  std::string reason;
  EXPECT_EQ(second.bind("127.0.0.1", port_, reason), -1);
  EXPECT_FALSE(reason.empty());

  // Measured from after the answers came, so the idle time is a little longer than seen here.
  Clock::time_point answered = Clock::now();
  Received rest = client.receive(0);
  EXPECT_TRUE(rest.closed);
  EXPECT_EQ(rest.bytes, "");
  EXPECT_GE(millisSince(answered), 500);
  EXPECT_LE(millisSince(answered), 5000);
  stop();
  EXPECT_EQ(logCount(" opened (plain)"), 1u);
  EXPECT_EQ(endOf(1), ConnectionEnd::Kind::kIdle);
  // The log line users read.
  EXPECT_EQ(logCount("connection 1 closed after 2 requests (idle for 1 s)"), 1u);
}

TEST_F(HttpServerTest, CloseConnectionsGivesEveryRequestItsOwnConnection) {
  HttpServer::Settings settings;
  settings.closeConnections = true;
  start(settings);
  for (int i = 1; i <= 3; ++i) {
    RawClient client(port_);
    ASSERT_TRUE(client.send(get("/status")));
    Received answer = client.receive(0);
    EXPECT_TRUE(answer.closed);
    EXPECT_NE(answer.bytes.find("\r\nConnection: close\r\n"), std::string::npos) << answer.bytes;
    EXPECT_NE(answer.bytes.find("connection " + std::to_string(i) + " request 1"),
              std::string::npos);
  }
  stop();
  EXPECT_EQ(logCount(" opened (plain)"), 3u);
  EXPECT_EQ(endedAs(ConnectionEnd::Kind::kAnswerCloses), 3u);
}

TEST_F(HttpServerTest, EveryDeliveryAsTheClientSeesIt) {
  start();
  RawClient dropping(port_);
  ASSERT_TRUE(dropping.send(get("/drop")));
  Received dropped = dropping.receive(0);
  EXPECT_TRUE(dropped.closed);
  EXPECT_EQ(dropped.bytes, "");

  RawClient garbling(port_);
  ASSERT_TRUE(garbling.send(get("/garbage")));
  Received garbage = garbling.receive(0);
  EXPECT_TRUE(garbage.closed);
  EXPECT_EQ(garbage.bytes, "\x16\x03garbage\r\n");

  // The delayed answer keeps its connection, which answers the next request at once (a
  // generous bound: a loaded machine may be slow).
  Clock::time_point sent = Clock::now();
  RawClient delayed(port_);
  ASSERT_TRUE(delayed.send(get("/delay")));
  EXPECT_EQ(wholeAnswers(delayed.receive(1).bytes), 1u);
  EXPECT_GE(millisSince(sent), 2000);
  sent = Clock::now();
  ASSERT_TRUE(delayed.send(get("/next")));
  EXPECT_NE(delayed.receive(1).bytes.find("connection 3 request 2"), std::string::npos);
  EXPECT_LT(millisSince(sent), 1500);

  // About 130 bytes at 200 a second, a tenth of a second's worth at a time.
  sent = Clock::now();
  RawClient dripped(port_);
  ASSERT_TRUE(dripped.send(get("/drip")));
  Received drip = dripped.receive(1);
  EXPECT_EQ(wholeAnswers(drip.bytes), 1u) << drip.bytes;
  EXPECT_GE(millisSince(sent), 1000 * static_cast<long long>(drip.bytes.size() - 20) / 200);
  EXPECT_GE(drip.pieces, 5);
  stop();
  EXPECT_EQ(endOf(1), ConnectionEnd::Kind::kDropped);
  EXPECT_EQ(endOf(2), ConnectionEnd::Kind::kGarbage);
}

// An answer in pieces goes out in chunks; an HTTP/1.0 client, which knows none, gets it up to
// the connection's end.
TEST_F(HttpServerTest, AnAnswerInPiecesGoesOutInChunks) {
  start();
  RawClient client(port_);
  ASSERT_TRUE(client.send("GET /pieces HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n"));
  Received chunked = client.receive(0);
  const size_t bodyAt = chunked.bytes.find("\r\n\r\n") + 4;
  EXPECT_NE(chunked.bytes.find("\r\nTransfer-Encoding: chunked\r\n"), std::string::npos);
  EXPECT_EQ(chunked.bytes.substr(bodyAt),
            "5\r\nfirst\r\n7\r\npiece 1\r\n7\r\npiece 2\r\n0\r\n\r\n");

  RawClient old(port_);
  ASSERT_TRUE(old.send("GET /pieces HTTP/1.0\r\n\r\n"));
  Received whole = old.receive(0);
  EXPECT_TRUE(whole.closed);
  EXPECT_EQ(whole.bytes.find("Content-Length"), std::string::npos) << whole.bytes;
  EXPECT_EQ(whole.bytes.substr(whole.bytes.find("\r\n\r\n") + 4), "firstpiece 1piece 2");
}

// The bytes of requests held at once are bounded across connections: a request that would go
// over is answered 413 before its body comes, and a request's bytes are given back once it is
// answered.
TEST_F(HttpServerTest, RequestBytesHeldAtOnceAreBounded) {
  HttpServer::Settings settings;
  settings.requestBytes = 100 * 1024;
  start(settings);
  auto put = [](size_t size) {
    return "PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n";
  };
  // Its "100 Continue" comes once its body is held.
  RawClient first(port_);
  std::string head = put(80 * 1024);
  ASSERT_TRUE(first.send(head.insert(head.size() - 2, "Expect: 100-continue\r\n")));
  char interim[64];
  boost::system::error_code error;
  first.socket().read_some(asio::buffer(interim), error);
  ASSERT_FALSE(error) << error.message();
  RawClient second(port_);
  ASSERT_TRUE(second.send(put(40 * 1024)));
  Received refused = second.receive(0);
  EXPECT_EQ(refused.bytes.rfind("HTTP/1.1 413 Content Too Large\r\n", 0), 0u) << refused.bytes;
  EXPECT_TRUE(refused.closed);

  ASSERT_TRUE(first.send(std::string(80 * 1024, 'a')));
  EXPECT_EQ(wholeAnswers(first.receive(1).bytes), 1u);
  RawClient third(port_);
  ASSERT_TRUE(third.send(put(40 * 1024) + std::string(40 * 1024, 'c')));
  EXPECT_EQ(wholeAnswers(third.receive(1).bytes), 1u);
  stop();
  EXPECT_EQ(endOf(2), ConnectionEnd::Kind::kTooLarge);
}

// 300 connections kept open, each asking five times, all answered; stopping with them all
// open closes every one of them.
TEST_F(HttpServerTest, ManyKeptConnectionsAreAllAnsweredAndStopPromptly) {
  start();
  const int kClients = 300;
  std::vector<std::unique_ptr<RawClient>> clients;
  for (int i = 0; i < kClients; ++i) clients.push_back(std::make_unique<RawClient>(port_));
  std::set<std::string> connections;
  for (int round = 1; round <= 5; ++round) {
    for (auto& client : clients) ASSERT_TRUE(client->send(get("/status")));
    for (auto& client : clients) {
      std::string body = client->receive(1).bytes;
      ASSERT_NE(body.find(" request " + std::to_string(round)), std::string::npos) << body;
      size_t start = body.find("connection ");
      connections.insert(body.substr(start, body.find(" request") - start));
    }
  }
  EXPECT_EQ(connections.size(), static_cast<size_t>(kClients));
  Clock::time_point stopping = Clock::now();
  stop();
  EXPECT_LT(millisSince(stopping), 5000);
  EXPECT_EQ(endedAs(ConnectionEnd::Kind::kStopping), static_cast<size_t>(kClients));
}

using SslCtxPtr = std::unique_ptr<SSL_CTX, OpenSslFree<SSL_CTX, SSL_CTX_free>>;
using SslPtr = std::unique_ptr<SSL, OpenSslFree<SSL, SSL_free>>;
using SessionPtr = std::unique_ptr<SSL_SESSION, OpenSslFree<SSL_SESSION, SSL_SESSION_free>>;

// A client trusting only a test CA connects twice with each TLS version, sending two requests
// in one record each time; the second connection resumes the first one's session.
TEST_F(HttpServerTest, HttpsOverTls12And13ResumesSessionsAndRefusesUnusableFiles) {
  TestCertificate ca = makeCa("emulator test CA");
  const std::string cert = dir_ + "/cert.pem";
  const std::string key = dir_ + "/key.pem";
  ASSERT_TRUE(writePem(makeLeaf(ca, "127.0.0.1", "IP:127.0.0.1"), cert, key));
  std::string error;
  std::unique_ptr<TlsContext> tls = TlsContext::load(cert, key, error);
  ASSERT_TRUE(tls) << error;
  HttpServer::Settings settings;
  settings.tls = tls.get();
  start(settings);

  SslCtxPtr client(SSL_CTX_new(TLS_client_method()));
  X509_STORE_add_cert(SSL_CTX_get_cert_store(client.get()), ca.cert.get());
  SSL_CTX_set_verify(client.get(), SSL_VERIFY_PEER, nullptr);
  for (int version : {TLS1_2_VERSION, TLS1_3_VERSION}) {
    SSL_CTX_set_min_proto_version(client.get(), version);
    SSL_CTX_set_max_proto_version(client.get(), version);
    SessionPtr session;
    for (int connection = 0; connection < 2; ++connection) {
      RawClient raw(port_);
      SslPtr ssl(SSL_new(client.get()));
      SSL_set_fd(ssl.get(), static_cast<int>(raw.socket().native_handle()));
      X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), "127.0.0.1");
      if (session) SSL_set_session(ssl.get(), session.get());
      ASSERT_EQ(SSL_connect(ssl.get()), 1) << version;
      const std::string requests = get("/first") + get("/second");
      ASSERT_EQ(SSL_write(ssl.get(), requests.data(), static_cast<int>(requests.size())),
                static_cast<int>(requests.size()));
      std::string answers;
      char buffer[4096];
      int n = 0;
      while (wholeAnswers(answers) < 2 && (n = SSL_read(ssl.get(), buffer, sizeof(buffer))) > 0) {
        answers.append(buffer, static_cast<size_t>(n));
      }
      EXPECT_NE(answers.find(" request 2"), std::string::npos) << answers;
      EXPECT_EQ(SSL_version(ssl.get()), version);
      EXPECT_EQ(SSL_session_reused(ssl.get()), connection) << version;
      session.reset(SSL_get1_session(ssl.get()));
      SSL_shutdown(ssl.get());
    }
  }
  // The last close may reach the server after a stop would.
  waitUntil([&] { return endedAs(ConnectionEnd::Kind::kClosedByClient) >= 4; },
            std::chrono::seconds(5), std::chrono::milliseconds(100));
  stop();
  EXPECT_EQ(logCount(" opened (TLS)"), 4u);
  EXPECT_EQ(endedAs(ConnectionEnd::Kind::kClosedByClient), 4u);

  EXPECT_FALSE(TlsContext::load(dir_ + "/none.pem", key, error));
  EXPECT_NE(error.find("cannot use the certificate " + dir_ + "/none.pem: "), std::string::npos);
  ASSERT_TRUE(
      writePem(makeSelfSigned("other", "DNS:other"), dir_ + "/other.pem", dir_ + "/other-key.pem"));
  EXPECT_FALSE(TlsContext::load(cert, dir_ + "/other-key.pem", error));
  EXPECT_EQ(error, "cannot use the key " + dir_ + "/other-key.pem: key values mismatch");
}

}  // namespace
