// The emulator's connection layer over real sockets on 127.0.0.1: connections kept between
// requests and closed when idle, one connection per request when asked, every delivery as a
// client sees it, many kept connections at once, and HTTPS where the build has it.
#include "emulator_server.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/file_util.h"
#include "support/socket.h"

#ifdef MARLUNE_EMULATOR_TLS
#include <openssl/ssl.h>

#include "support/test_certificates.h"
#include "tls_transport.h"
#endif

using namespace testing_support;

namespace {

using Clock = std::chrono::steady_clock;

long long millisSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Answers "/drop", "/garbage", "/delay" (1 s) and "/drip" (200 bytes a second) with that
// delivery, anything else at once; each body tells where its request came from.
EmulatorResponse answerWithPlace(const RecordedRequest& request, const Arrival& arrival) {
  Delivery delivery;
  if (request.path() == "/drop") delivery = Delivery::drop();
  if (request.path() == "/garbage") delivery = Delivery::garbage();
  if (request.path() == "/delay") delivery = Delivery::delay(1000);
  if (request.path() == "/drip") delivery = Delivery::drip(200);
  return EmulatorResponse(200,
                          "connection " + std::to_string(arrival.connection) + " request " +
                              std::to_string(arrival.requestOnConnection),
                          delivery);
}

std::string get(const std::string& path) {
  return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

bool sendText(SocketHandle socket, const std::string& bytes) {
  return sendSome(socket, bytes.data(), bytes.size()) == static_cast<long>(bytes.size());
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

// Reads from `socket` until it holds `answers` whole answers (0: until the server closes),
// or nothing came for five seconds.
Received receive(SocketHandle socket, size_t answers) {
  Received got;
  char buffer[4096];
  while ((answers == 0 || wholeAnswers(got.bytes) < answers) && waitReadable(socket, 5000)) {
    long n = receiveSome(socket, buffer, sizeof(buffer));
    if (n <= 0) {
      got.closed = true;
      break;
    }
    got.bytes.append(buffer, static_cast<size_t>(n));
    ++got.pieces;
  }
  return got;
}

class EmulatorServerTest : public ::testing::Test {
 protected:
  ~EmulatorServerTest() override {
    stop();
    removeTree(dir_);
  }

  void start(const EmulatorServer::Settings& settings = EmulatorServer::Settings()) {
    ASSERT_TRUE(log_.openFile(dir_ + "/emulator.log"));
    server_ = std::make_unique<EmulatorServer>(answerWithPlace, settings, log_);
    port_ = server_->bind("127.0.0.1", 0);
    ASSERT_GT(port_, 0);
    serving_ = std::thread([this] { served_ = server_->listen(); });
  }

  void stop() {
    if (!serving_.joinable()) return;
    server_->stop();
    serving_.join();
    EXPECT_TRUE(served_);
  }

  // A raw connection that has sent `bytes`.
  SocketHandle connectAndSend(const std::string& bytes) {
    SocketHandle socket = connectToLoopback(port_);
    EXPECT_NE(socket, kNoSocket);
    EXPECT_TRUE(sendText(socket, bytes));
    return socket;
  }

  size_t logCount(const std::string& text) const {
    return countOf(readFile(dir_ + "/emulator.log"), text);
  }

  std::string dir_ = makeTempDir();
  EmulatorLog log_;
  std::unique_ptr<EmulatorServer> server_;
  int port_ = 0;
  std::thread serving_;
  bool served_ = false;
};

TEST_F(EmulatorServerTest, KeepsAConnectionForItsRequestsAndClosesItWhenIdle) {
  EmulatorServer::Settings settings;
  settings.keepAliveSeconds = 1;
  start(settings);
  // Both requests in one write: the second waits in the connection's input meanwhile.
  SocketHandle socket = connectAndSend(get("/first") + get("/second"));
  Received answers = receive(socket, 2);
  EXPECT_EQ(wholeAnswers(answers.bytes), 2u) << answers.bytes;
  EXPECT_EQ(countOf(answers.bytes, "Keep-Alive: timeout=1, max="), 2u) << answers.bytes;
  EXPECT_NE(answers.bytes.find("connection 1 request 1HTTP/1.1 200 OK\r\n"), std::string::npos);
  EXPECT_NE(answers.bytes.find("connection 1 request 2"), std::string::npos);

  // A second server cannot share the port.
  EmulatorServer second(answerWithPlace, settings, log_);
  EXPECT_EQ(second.bind("127.0.0.1", port_), -1);

  // Measured from after the answers came, so the idle time is a little longer than seen here.
  Clock::time_point answered = Clock::now();
  Received rest = receive(socket, 0);
  EXPECT_TRUE(rest.closed);
  EXPECT_EQ(rest.bytes, "");
  EXPECT_GE(millisSince(answered), 500);
  EXPECT_LE(millisSince(answered), 3000);
  closeSocket(socket);
  stop();
  EXPECT_EQ(logCount(" opened (plain)"), 1u);
  EXPECT_EQ(logCount("connection 1 closed after 2 requests (idle for 1 s)"), 1u);
}

TEST_F(EmulatorServerTest, CloseConnectionsGivesEveryRequestItsOwnConnection) {
  EmulatorServer::Settings settings;
  settings.closeConnections = true;
  start(settings);
  httplib::Client client("127.0.0.1", port_);
  client.set_keep_alive(true);
  for (int i = 1; i <= 3; ++i) {
    httplib::Result answer = client.Get("/status");
    ASSERT_TRUE(answer) << i;
    EXPECT_EQ(answer->get_header_value("Connection"), "close");
    EXPECT_EQ(answer->body, "connection " + std::to_string(i) + " request 1");
  }
  stop();
  EXPECT_EQ(logCount(" opened (plain)"), 3u);
  EXPECT_EQ(logCount(" closed after 1 request (answered with Connection: close)"), 3u);
}

TEST_F(EmulatorServerTest, EveryDeliveryAsTheClientSeesIt) {
  start();
  SocketHandle socket = connectAndSend(get("/drop"));
  Received dropped = receive(socket, 0);
  closeSocket(socket);
  EXPECT_TRUE(dropped.closed);
  EXPECT_EQ(dropped.bytes, "");

  socket = connectAndSend(get("/garbage"));
  Received garbage = receive(socket, 0);
  closeSocket(socket);
  EXPECT_TRUE(garbage.closed);
  EXPECT_EQ(garbage.bytes, "\x16\x03garbage\r\n");

  // The delayed answer keeps its connection, which answers the next request at once.
  Clock::time_point sent = Clock::now();
  SocketHandle delayed = connectAndSend(get("/delay"));
  EXPECT_EQ(wholeAnswers(receive(delayed, 1).bytes), 1u);
  EXPECT_GE(millisSince(sent), 1000);
  sent = Clock::now();
  EXPECT_TRUE(sendText(delayed, get("/next")));
  EXPECT_NE(receive(delayed, 1).bytes.find("connection 3 request 2"), std::string::npos);
  EXPECT_LT(millisSince(sent), 700);
  closeSocket(delayed);

  // About 130 bytes at 200 a second, a tenth of a second's worth at a time.
  sent = Clock::now();
  SocketHandle dripped = connectAndSend(get("/drip"));
  Received drip = receive(dripped, 1);
  EXPECT_EQ(wholeAnswers(drip.bytes), 1u) << drip.bytes;
  EXPECT_GE(millisSince(sent), 1000 * static_cast<long long>(drip.bytes.size() - 20) / 200);
  EXPECT_GE(drip.pieces, 5);
  closeSocket(dripped);
  stop();
  EXPECT_EQ(logCount("connection 1 closed after 1 request (dropped without an answer)"), 1u);
  EXPECT_EQ(logCount("connection 2 closed after 1 request (garbage sent)"), 1u);
}

// 300 connections kept open, each asking five times, all answered; stopping with them all
// open is prompt.
TEST_F(EmulatorServerTest, ManyKeptConnectionsAreAllAnsweredAndStopPromptly) {
  start();
  const int kClients = 300;
  std::vector<SocketHandle> sockets;
  for (int i = 0; i < kClients; ++i) sockets.push_back(connectToLoopback(port_));
  std::set<std::string> connections;
  for (int round = 1; round <= 5; ++round) {
    for (SocketHandle socket : sockets) {
      ASSERT_TRUE(sendText(socket, get("/status")));
    }
    for (SocketHandle socket : sockets) {
      std::string body = receive(socket, 1).bytes;
      ASSERT_NE(body.find(" request " + std::to_string(round)), std::string::npos) << body;
      size_t start = body.find("connection ");
      connections.insert(body.substr(start, body.find(" request") - start));
    }
  }
  EXPECT_EQ(connections.size(), static_cast<size_t>(kClients));
  Clock::time_point stopping = Clock::now();
  stop();
  EXPECT_LT(millisSince(stopping), 1000);
  EXPECT_EQ(logCount(" closed after 5 requests (stopping)"), static_cast<size_t>(kClients));
  for (SocketHandle socket : sockets) closeSocket(socket);
}

#ifdef MARLUNE_EMULATOR_TLS
using SslCtxPtr = std::unique_ptr<SSL_CTX, OpenSslFree<SSL_CTX, SSL_CTX_free>>;
using SslPtr = std::unique_ptr<SSL, OpenSslFree<SSL, SSL_free>>;
using SessionPtr = std::unique_ptr<SSL_SESSION, OpenSslFree<SSL_SESSION, SSL_SESSION_free>>;

// A client trusting only a test CA connects twice with each TLS version, sending two requests
// in one record each time; the second connection resumes the first one's session.
TEST_F(EmulatorServerTest, HttpsOverTls12And13ResumesSessionsAndRefusesUnusableFiles) {
  TestCertificate ca = makeCa("emulator test CA");
  const std::string cert = dir_ + "/cert.pem";
  const std::string key = dir_ + "/key.pem";
  ASSERT_TRUE(writePem(makeLeaf(ca, "127.0.0.1", "IP:127.0.0.1"), cert, key));
  std::string error;
  std::unique_ptr<TransportMaker> tls = loadTlsTransports(cert, key, error);
  ASSERT_TRUE(tls) << error;
  EmulatorServer::Settings settings;
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
      SocketHandle socket = connectToLoopback(port_);
      SslPtr ssl(SSL_new(client.get()));
      SSL_set_fd(ssl.get(), static_cast<int>(socket));
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
      ssl.reset();
      closeSocket(socket);
    }
  }
  // The last close may reach the server after a stop would.
  for (int i = 0; i < 50 && logCount(" closed after 2 requests (closed by the client)") < 4; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  stop();
  EXPECT_EQ(logCount(" opened (TLS)"), 4u);
  EXPECT_EQ(logCount(" closed after 2 requests (closed by the client)"), 4u);

  EXPECT_FALSE(loadTlsTransports(dir_ + "/none.pem", key, error));
  EXPECT_NE(error.find("cannot use the certificate " + dir_ + "/none.pem: "), std::string::npos);
  ASSERT_TRUE(
      writePem(makeSelfSigned("other", "DNS:other"), dir_ + "/other.pem", dir_ + "/other-key.pem"));
  EXPECT_FALSE(loadTlsTransports(cert, dir_ + "/other-key.pem", error));
  EXPECT_EQ(error, "cannot use the key " + dir_ + "/other-key.pem: key values mismatch");
}
#endif

}  // namespace
