// The emulator's connections, driven by one thread: it accepts them, drives their TLS
// handshakes (whose steps, costly, run on the workers when no request waits for one), waits
// for the head of each request and hands it to a small worker pool,
// then sends the answer as its delivery says (at once, after a delay, dripped, replaced by
// garbage, or not at all), keeps the connection for the keep-alive time and closes it.
// Idle connections cost no thread; one line in the log for each opened and closed one.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "connection.h"
#include "emulator_log.h"
#include "socket_ops.h"
#include "transport.h"
#include "worker_pool.h"

class ConnectionLoop {
 public:
  // Processes the request whose head is buffered in `connection`, on a worker thread: leaves
  // the answer in its output and sets its delivery, closeAfterAnswer and closeNote. Waits end
  // early once `stopping` is set.
  using Process = std::function<void(Connection& connection, const std::atomic<bool>& stopping)>;

  struct Settings {
    int64_t keepAliveSeconds = 60;  // how long a connection may wait for its next request
    size_t workers = 4;
    TransportMaker* transports = nullptr;  // how accepted connections talk; outlives the loop
  };

  // `log` must outlive the loop.
  ConnectionLoop(const Settings& settings, Process process, EmulatorLog& log);
  ~ConnectionLoop();
  ConnectionLoop(const ConnectionLoop&) = delete;
  ConnectionLoop& operator=(const ConnectionLoop&) = delete;

  // Listens on `host`:`port` (0 picks a free port); the port, or -1 with the reason in `error`.
  int bind(const std::string& host, int port, std::string& error);

  // Serves until stop(), then closes every connection; false when it could not start.
  bool run();

  // Makes run() return soon; from any thread, also before run() has begun.
  void stop();

 private:
  void turn();
  void acceptWaiting(SteadyClock::time_point now);
  void step(Connection& connection);
  // Moves on the connections whose deadline has come; the next deadline of all.
  SteadyClock::time_point expire(SteadyClock::time_point now);
  void reachDeadline(Connection& connection, SteadyClock::time_point now);
  // Makes the poller watch the connection for what its state waits for.
  void settle(Connection& connection);
  void handshakeOnWorker(Connection& connection);
  void afterHandshakeStep(Connection& connection, IoStatus result);
  void awaitRequest(Connection& connection);
  void readRequest(Connection& connection);
  void dispatch(Connection& connection);
  void handBack(Connection& connection);  // on a worker thread
  void takeReturned();
  void deliver(Connection& connection);
  void startWriting(Connection& connection);
  void drip(Connection& connection, SteadyClock::time_point now);
  void writeAnswer(Connection& connection);
  void close(Connection& connection, const std::string& why);
  void wake();

  const Settings settings_;
  const Process process_;
  EmulatorLog& log_;
  std::atomic<bool> stopping_{false};
  net::Socket listener_;
  net::Socket wakeIn_;   // read by the loop
  net::Socket wakeOut_;  // written to wake it
  net::SocketPoller poller_;
  std::vector<uint64_t> ready_;  // keys the poller gave in the current turn
  bool acceptPaused_ = false;
  SteadyClock::time_point acceptPausedUntil_;
  uint64_t nextId_ = 1;
  std::map<uint64_t, std::unique_ptr<Connection>> connections_;  // by id, the poller's key
  std::mutex returnedMutex_;
  std::vector<Connection*> returned_;  // processed by workers, not yet taken back
  WorkerPool pool_;                    // ends before the connections it works on
};
