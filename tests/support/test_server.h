// A scriptable HTTP/1.1 server on 127.0.0.1 for the tests. It records every request as
// it arrived on the wire (header lines in order, byte for byte) and answers as the test
// scripts it, faults included. It reads the raw request because the order and exact
// spelling of header lines are part of what the client must get right. It serves one
// connection at a time: with connections kept, a second client waits until the first one's
// connection closes.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "recorded_request.h"
#include "support/socket.h"

namespace testing_support {

struct Answer {
  int status = 200;
  std::string body;
  std::vector<std::string> headers;  // extra "Name: value" lines
  std::string contentType = "application/json";

  // Faults.
  bool closeWithoutAnswer = false;  // close the connection before sending anything
  bool cutMidBody = false;          // send headers and half the body, then close
  int delayMs = 0;                  // wait before answering
  // Hold the connection without answering (after headers and half the body when
  // `cutMidBody` is set too) until the client gives up and closes it.
  bool stall = false;
  int dripBytesPerSecond = 0;  // send the whole answer this slowly

  static Answer json(const std::string& body, int status = 200);
  static Answer drop();
  static Answer silence();  // `stall` alone: no answer at all
};

// A port on 127.0.0.1 where connections are refused while the object lives.
class RefusingPort {
 public:
  RefusingPort() : socket_(bindWithoutListening(port_)) {}
  ~RefusingPort() { closeSocket(socket_); }
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  int port_ = 0;
  SocketHandle socket_;
};

class TestServer {
 public:
  using Handler = std::function<Answer(const RecordedRequest&)>;

  TestServer();
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  int port() const { return port_; }
  std::string url() const;  // "http://127.0.0.1:<port>"

  // Answers requests for `method` and `path` (query ignored) with `handler`.
  void on(const std::string& method, const std::string& path, Handler handler);
  // Answers them with `answers` in turn; the last one repeats.
  void onSequence(const std::string& method, const std::string& path, std::vector<Answer> answers);
  // Answers them always with `answer`.
  void onAlways(const std::string& method, const std::string& path, Answer answer);

  // 0 (the start): every answer says "Connection: close" and closes. Otherwise answers keep
  // their connection for the next request, and a connection idle for `idleMs` is closed
  // without a word, as servers that keep connections alive do.
  void keepConnections(int idleMs) { keepIdleMs_ = idleMs; }

  std::vector<RecordedRequest> requests() const;
  // Requests whose path is `path`.
  std::vector<RecordedRequest> requestsTo(const std::string& path) const;
  size_t connectionCount() const { return connections_; }

 private:
  void serve();
  void handleConnection(SocketHandle fd);
  // Reads and answers the request at the start of `buffer`; true when the connection stays.
  bool serveRequest(SocketHandle fd, std::string& buffer);
  // Reads until `buffer` holds at least `wanted` bytes, the peer closes, `timeoutMs` passes
  // or the server stops.
  bool readAtLeast(SocketHandle fd, std::string& buffer, size_t wanted, int timeoutMs = 10000);
  void holdUntilClientCloses(SocketHandle fd);
  Answer dispatch(const RecordedRequest& request);

  SocketHandle listenFd_ = kNoSocket;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<size_t> connections_{0};
  std::atomic<int> keepIdleMs_{0};
  mutable std::mutex mutex_;
  std::map<std::string, Handler> handlers_;
  std::vector<RecordedRequest> requests_;
  std::thread thread_;
};

}  // namespace testing_support
