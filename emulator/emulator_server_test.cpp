// The emulator's connection layer over real sockets on 127.0.0.1: connections kept between
// requests and closed when idle, one connection per request when asked, every delivery as a
// client sees it, and many kept connections at once.
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

using namespace testing_support;

namespace {

using Clock = std::chrono::steady_clock;

long long millisSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Answers "/drop", "/garbage", "/delay" (300 ms) and "/drip" (200 bytes a second) with that
// delivery, anything else at once; each body tells where its request came from.
EmulatorResponse answerWithPlace(const RecordedRequest& request, const Arrival& arrival) {
  Delivery delivery;
  if (request.path() == "/drop") delivery = Delivery::drop();
  if (request.path() == "/garbage") delivery = Delivery::garbage();
  if (request.path() == "/delay") delivery = Delivery::delay(300);
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

  Clock::time_point answered = Clock::now();
  Received rest = receive(socket, 0);
  EXPECT_TRUE(rest.closed);
  EXPECT_EQ(rest.bytes, "");
  EXPECT_GE(millisSince(answered), 900);
  EXPECT_LE(millisSince(answered), 2500);
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
  Received dropped = receive(connectAndSend(get("/drop")), 0);
  EXPECT_TRUE(dropped.closed);
  EXPECT_EQ(dropped.bytes, "");

  Received garbage = receive(connectAndSend(get("/garbage")), 0);
  EXPECT_TRUE(garbage.closed);
  EXPECT_EQ(garbage.bytes, "\x16\x03garbage\r\n");

  // The delayed answer keeps its connection, which answers the next request at once.
  Clock::time_point sent = Clock::now();
  SocketHandle delayed = connectAndSend(get("/delay"));
  EXPECT_EQ(wholeAnswers(receive(delayed, 1).bytes), 1u);
  EXPECT_GE(millisSince(sent), 300);
  sent = Clock::now();
  EXPECT_TRUE(sendText(delayed, get("/next")));
  EXPECT_NE(receive(delayed, 1).bytes.find("connection 3 request 2"), std::string::npos);
  EXPECT_LT(millisSince(sent), 250);
  closeSocket(delayed);

  // About 130 bytes at 200 a second, a twentieth of a second's worth at a time.
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

}  // namespace
