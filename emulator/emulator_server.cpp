// httplib's request handling over the emulator's own connections: httplib parses each
// request, routes it to the handler and writes the answer; the connection loop does the rest.
#include "emulator_server.h"

#include <httplib.h>

#include "connection_loop.h"
#include "connection_stream.h"

namespace {

// Announced in "Keep-Alive: timeout=..., max=...": connections are not closed for their count.
const size_t kKeepAliveMaxCount = 1000000;
const size_t kWorkers = 4;

// The request this thread processes: its connection, for the handler to read its place and
// to set the answer's delivery, and its header lines in the order they came.
struct Served {
  Connection* connection = nullptr;
  std::vector<std::string> headerLines;  // "Name:value", blanks around the value dropped
};
thread_local Served* tServed = nullptr;  // a plain pointer: no thread-exit destructor needed

// The header lines of the request head at `start` in `input`, in order. The loop hands a
// request on once its head is whole; one that is not is refused before the handler runs.
std::vector<std::string> headerLinesOf(const std::string& input, size_t start) {
  std::vector<std::string> lines;
  const size_t end = input.find("\r\n\r\n", start);
  if (end == std::string::npos) return lines;
  size_t at = input.find("\r\n", start);  // past the request line
  while (at < end) {
    const size_t from = at + 2;
    at = input.find("\r\n", from);
    const std::string line = input.substr(from, at - from);
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const size_t first = line.find_first_not_of(" \t", colon + 1);
    const size_t last = line.find_last_not_of(" \t");
    lines.push_back(line.substr(0, colon + 1) +
                    (first == std::string::npos ? "" : line.substr(first, last + 1 - first)));
  }
  return lines;
}

RecordedRequest toRecordedRequest(const httplib::Request& request, Served& served) {
  RecordedRequest converted;
  converted.method = request.method;
  converted.target = request.target;
  converted.headers = std::move(served.headerLines);
  converted.body = request.body;
  return converted;
}

// HTTP/1.1 gives a request without Content-Length or Transfer-Encoding an empty body, but
// httplib would read a POST or PUT body until the connection closes. The client's token
// request is such a POST, so these requests are answered before any body is read.
bool announcesBody(const httplib::Request& request) {
  return request.has_header("Content-Length") || request.has_header("Transfer-Encoding");
}

// httplib's server, fed one request at a time from a connection of ours.
class RequestProcessor : public httplib::Server {
 public:
  RequestProcessor(EmulatorServer::Handler handler, const EmulatorServer::Settings& settings)
      : handler_(std::move(handler)),
        closeEvery_(settings.closeConnections || settings.keepAliveSeconds == 0) {
    set_keep_alive_timeout(static_cast<time_t>(settings.keepAliveSeconds));
    set_keep_alive_max_count(kKeepAliveMaxCount);
    Handler answer = [this](const httplib::Request& request, httplib::Response& response) {
      this->answer(request, response);
    };
    set_pre_routing_handler([answer](const httplib::Request& request, httplib::Response& response) {
      if (announcesBody(request)) return HandlerResponse::Unhandled;
      answer(request, response);
      return HandlerResponse::Handled;
    });
    Get(".*", answer);
    Post(".*", answer);
    Put(".*", answer);
    Delete(".*", answer);
    Patch(".*", answer);
    Options(".*", answer);
  }

  // Reads, routes and answers the request buffered in `connection`; on a worker thread.
  void process(Connection& connection, const std::atomic<bool>& stopping) {
    ++connection.requests;
    connection.delivery = Delivery::normal();
    ConnectionStream stream(connection, SteadyClock::now() + kTransferLimit, stopping);
    bool clientCloses = false;
    Served served;
    served.connection = &connection;
    served.headerLines = headerLinesOf(connection.in, connection.inStart);
    tServed = &served;
    const bool answered = process_request(stream, closeEvery_, clientCloses, nullptr);
    tServed = nullptr;
    connection.closeAfterAnswer = !answered || stream.broken() || clientCloses || closeEvery_;
    if (stream.broken()) {
      connection.closeNote = "request or answer cut short";
    } else if (!answered) {
      connection.closeNote = "unreadable request";
    } else if (clientCloses) {
      connection.closeNote = "the client asked to close";
    } else {
      connection.closeNote = "answered with Connection: close";
    }
  }

 private:
  void answer(const httplib::Request& request, httplib::Response& response) {
    Connection& connection = *tServed->connection;
    EmulatorResponse answer =
        handler_(toRecordedRequest(request, *tServed), Arrival{connection.id, connection.requests});
    response.status = answer.status;
    response.set_content(answer.body, "application/json");
    connection.delivery = answer.delivery;
  }

  const EmulatorServer::Handler handler_;
  const bool closeEvery_;
};

}  // namespace

struct EmulatorServer::Impl {
  Impl(Handler handler, const Settings& settings, EmulatorLog& log)
      : plain(plainTransports()),
        processor(std::move(handler), settings),
        loop(
            {settings.keepAliveSeconds, kWorkers, settings.tls ? settings.tls : plain.get()},
            [this](Connection& connection, const std::atomic<bool>& stopping) {
              processor.process(connection, stopping);
            },
            log),
        log(log) {}

  std::unique_ptr<TransportMaker> plain;
  RequestProcessor processor;
  ConnectionLoop loop;
  EmulatorLog& log;
};

EmulatorServer::EmulatorServer(Handler handler, const Settings& settings, EmulatorLog& log)
    : impl_(new Impl(std::move(handler), settings, log)) {}

EmulatorServer::~EmulatorServer() = default;

int EmulatorServer::bind(const std::string& host, int port) {
  std::string error;
  int bound = impl_->loop.bind(host, port, error);
  if (bound < 0)
    impl_->log.line("cannot listen on " + host + ":" + std::to_string(port) + ": " + error);
  return bound;
}

bool EmulatorServer::listen() { return impl_->loop.run(); }

void EmulatorServer::stop() { impl_->loop.stop(); }
