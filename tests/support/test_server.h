// A scriptable HTTP/1.1 server on 127.0.0.1 for the tests, on the emulator's own HTTP server.
// It records every request as it arrived on the wire (header lines in order, byte for byte)
// and answers as the test scripts it, faults included: the order and exact spelling of
// header lines are part of what the client must get right.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/emulator_log.h"
#include "server/emulator_response.h"
#include "server/http_server.h"
#include "server/recorded_request.h"

class TlsContext;

namespace testing_support {

// The answers a test scripts are the emulator's own (EmulatorResponse), faults included as
// their Delivery: dropped, cut short, delayed, dripped or held.

// A JSON answer with `status`, delivered at once.
EmulatorResponse jsonAnswer(const std::string& body, int status = 200);
// `answer` delivered as `delivery` says.
EmulatorResponse delivered(EmulatorResponse answer, Delivery delivery);
// The connection closed before anything is sent.
EmulatorResponse droppedAnswer();
// No answer at all: the connection is held until the client gives up and closes it.
EmulatorResponse silentAnswer();

// A port on 127.0.0.1 where connections are refused while the object lives.
class RefusingPort {
 public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  struct Socket;
  std::unique_ptr<Socket> socket_;
  int port_ = 0;
};

struct TestServerOptions {
  // 0: every answer says "Connection: close" and closes. Otherwise answers keep their
  // connection for the next request, and a connection idle for `keepIdleMs` is closed
  // without a word, as servers that keep connections alive do.
  int keepIdleMs = 0;
  // Serves HTTPS with the certificate (chain) and key in these PEM files when set.
  std::string tlsCertPath;
  std::string tlsKeyPath;

  static TestServerOptions keepingFor(int idleMs) {
    TestServerOptions options;
    options.keepIdleMs = idleMs;
    return options;
  }
};

class TestServer {
 public:
  using Handler = std::function<EmulatorResponse(const RecordedRequest&)>;

  explicit TestServer(const TestServerOptions& options = TestServerOptions());
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  int port() const { return port_; }
  std::string url() const;  // "http://127.0.0.1:<port>", or https

  // Answers requests for `method` and `path` (query ignored) with `handler`.
  void on(const std::string& method, const std::string& path, Handler handler);
  // Answers them with `answers` in turn; the last one repeats.
  void onSequence(const std::string& method, const std::string& path,
                  std::vector<EmulatorResponse> answers);
  // Answers them always with `answer`.
  void onAlways(const std::string& method, const std::string& path, EmulatorResponse answer);

  std::vector<RecordedRequest> requests() const;
  // Requests whose path is `path`.
  std::vector<RecordedRequest> requestsTo(const std::string& path) const;
  size_t connectionCount() const { return server_->connectionsAccepted(); }
  // How each connection that closed so far ended, in the order they closed.
  std::vector<ConnectionEnd> closings() const;

 private:
  EmulatorResponse answer(const RecordedRequest& request);

  const bool tls_;
  EmulatorLog log_;
  std::unique_ptr<TlsContext> tlsContext_;
  std::unique_ptr<HttpServer> server_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::map<std::string, Handler> handlers_;
  std::vector<RecordedRequest> requests_;
  std::vector<ConnectionEnd> closings_;
  std::thread thread_;
};

}  // namespace testing_support
