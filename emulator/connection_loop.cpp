// The connection loop: one turn waits for sockets and deadlines, then moves every connection
// that is ready one step on.
#include "connection_loop.h"

#include <algorithm>
#include <thread>

namespace {

using std::chrono::milliseconds;

// Room for many clients connecting at once; the system caps it at its own maximum.
const int kListenBacklog = 4096;
const int kAcceptsPerTurn = 64;
const int kReadsPerTurn = 16;
// After accepting or polling failed (out of descriptors, say), the loop rests this long.
const milliseconds kAcceptPause{100};
const char kGarbage[] = "\x16\x03garbage\r\n";

// Milliseconds from `now` until `then`, rounded up, so that a wait ends past the deadline.
int millisUntil(SteadyClock::time_point now, SteadyClock::time_point then) {
  if (then <= now) return 0;
  auto ms = std::chrono::duration_cast<milliseconds>(then - now).count() + 1;
  return static_cast<int>(std::min<int64_t>(ms, 3600 * 1000));
}

// The poller's keys of the two sockets that are not connections.
const uint64_t kWakeKey = UINT64_MAX;
const uint64_t kListenerKey = UINT64_MAX - 1;

std::string countOf(int64_t requests) {
  return std::to_string(requests) + (requests == 1 ? " request" : " requests");
}

std::string seconds(int64_t count) { return std::to_string(count) + " s"; }

}  // namespace

ConnectionLoop::ConnectionLoop(const Settings& settings, Process process, EmulatorLog& log)
    : settings_(settings), process_(std::move(process)), log_(log), pool_(settings.workers) {
  if (net::startSockets() && net::makeSocketPair(wakeIn_, wakeOut_)) {
    poller_.watch(wakeIn_.get(), kWakeKey, true, false);
  }
}

ConnectionLoop::~ConnectionLoop() { pool_.stop(); }

int ConnectionLoop::bind(const std::string& host, int port, std::string& error) {
  if (!net::startSockets()) {
    error = "sockets are not available";
    return -1;
  }
  listener_ = net::listenOn(host, port, kListenBacklog, error);
  if (!listener_.valid()) return -1;
  poller_.watch(listener_.get(), kListenerKey, true, false);
  return net::localPort(listener_.get());
}

bool ConnectionLoop::run() {
  if (!listener_.valid() || !wakeIn_.valid() || !poller_.valid()) return false;
  while (!stopping_) turn();
  pool_.stop();
  returned_.clear();
  for (auto& entry : connections_) {
    if (entry.second->state != Connection::State::kClosed) close(*entry.second, "stopping");
  }
  connections_.clear();
  return true;
}

void ConnectionLoop::stop() {
  stopping_ = true;
  wake();
}

void ConnectionLoop::turn() {
  SteadyClock::time_point now = SteadyClock::now();
  SteadyClock::time_point next = expire(now);
  for (auto it = connections_.begin(); it != connections_.end();) {
    it = it->second->state == Connection::State::kClosed ? connections_.erase(it) : std::next(it);
  }
  if (!poller_.wait(millisUntil(now, next), ready_)) {
    log_.line("waiting for connections failed: " + net::lastSocketError());
    std::this_thread::sleep_for(kAcceptPause);
    return;
  }
  for (uint64_t key : ready_) {
    if (key == kWakeKey) {
      char drained[64];
      while (net::receiveSome(wakeIn_.get(), drained, sizeof(drained)) > 0) {
      }
    } else if (key == kListenerKey) {
      acceptWaiting(SteadyClock::now());
    } else {
      auto found = connections_.find(key);
      if (found == connections_.end()) continue;
      step(*found->second);
      settle(*found->second);
    }
  }
  takeReturned();
}

void ConnectionLoop::acceptWaiting(SteadyClock::time_point now) {
  for (int i = 0; i < kAcceptsPerTurn; ++i) {
    bool again = false;
    std::string error;
    net::Socket socket = net::acceptFrom(listener_.get(), again, error);
    if (!socket.valid()) {
      if (!again) {
        log_.line("cannot accept a connection: " + error);
        acceptPaused_ = true;
        acceptPausedUntil_ = now + kAcceptPause;
        poller_.watch(listener_.get(), kListenerKey, false, false);
      }
      return;
    }
    std::unique_ptr<Transport> transport = settings_.transports->make(std::move(socket));
    if (!transport) continue;
    const uint64_t id = nextId_++;
    Connection& connection =
        *connections_.emplace(id, std::make_unique<Connection>(id, std::move(transport)))
             .first->second;
    log_.line("connection " + std::to_string(id) + " opened (" + settings_.transports->name() +
              ")");
    connection.state = Connection::State::kHandshake;
    connection.deadline = now + kTransferLimit;
    connection.waitingFor = IoStatus::kWantRead;
    if (!connection.transport->hasHandshake()) {
      afterHandshakeStep(connection, connection.transport->handshake().status);
    }
    settle(connection);
  }
}

void ConnectionLoop::step(Connection& connection) {
  switch (connection.state) {
    case Connection::State::kHandshake:
      handshakeOnWorker(connection);
      break;
    case Connection::State::kIdle:
    case Connection::State::kHead:
      readRequest(connection);
      break;
    case Connection::State::kWriting:
      writeAnswer(connection);
      break;
    default:
      break;
  }
}

SteadyClock::time_point ConnectionLoop::expire(SteadyClock::time_point now) {
  using State = Connection::State;
  SteadyClock::time_point next = now + std::chrono::hours(1);
  if (acceptPaused_ && now >= acceptPausedUntil_) {
    acceptPaused_ = false;
    poller_.watch(listener_.get(), kListenerKey, true, false);
  } else if (acceptPaused_) {
    next = acceptPausedUntil_;
  }
  for (auto& entry : connections_) {
    Connection& connection = *entry.second;
    if (connection.state == State::kBusy || connection.state == State::kClosed) continue;
    if (connection.deadline <= now) {
      reachDeadline(connection, now);
      settle(connection);
    }
    if (connection.state != State::kBusy && connection.state != State::kClosed) {
      next = std::min(next, connection.deadline);
    }
  }
  return next;
}

void ConnectionLoop::reachDeadline(Connection& connection, SteadyClock::time_point now) {
  using State = Connection::State;
  switch (connection.state) {
    case State::kHandshake:
      close(connection, "no TLS handshake within " + seconds(kTransferLimit.count()));
      break;
    case State::kIdle:
      close(connection, connection.requests == 0
                            ? "no request"
                            : "idle for " + seconds(settings_.keepAliveSeconds));
      break;
    case State::kHead:
      close(connection, "no whole request head within " + seconds(kTransferLimit.count()));
      break;
    case State::kDelayed:
      startWriting(connection);
      break;
    case State::kWriting:
      if (connection.delivery.kind == Delivery::Kind::kDrip) {
        drip(connection, now);
      } else {
        close(connection, "answer not taken within " + seconds(kTransferLimit.count()));
      }
      break;
    default:
      break;
  }
}

void ConnectionLoop::settle(Connection& connection) {
  using State = Connection::State;
  const bool waits = connection.state == State::kHandshake || connection.state == State::kIdle ||
                     connection.state == State::kHead || connection.state == State::kWriting;
  poller_.watch(connection.transport->socket(), connection.id,
                waits && connection.waitingFor == IoStatus::kWantRead,
                waits && connection.waitingFor == IoStatus::kWantWrite);
}

void ConnectionLoop::handshakeOnWorker(Connection& connection) {
  connection.state = Connection::State::kBusy;
  connection.inHandshake = true;
  Connection* shaking = &connection;
  pool_.submitLater([this, shaking] {
    shaking->handshakeResult = shaking->transport->handshake().status;
    handBack(*shaking);
  });
}

void ConnectionLoop::afterHandshakeStep(Connection& connection, IoStatus result) {
  connection.state = Connection::State::kHandshake;
  switch (result) {
    case IoStatus::kDone:
      awaitRequest(connection);
      break;
    case IoStatus::kWantRead:
    case IoStatus::kWantWrite:
      connection.waitingFor = result;
      break;
    case IoStatus::kClosed:
      close(connection, "closed by the client during the TLS handshake");
      break;
    case IoStatus::kFailed:
      close(connection, "TLS handshake failed: " + connection.transport->failure());
      break;
  }
}

// A new connection waits for its first request at least as long as a request head may take.
void ConnectionLoop::awaitRequest(Connection& connection) {
  connection.state = Connection::State::kIdle;
  connection.waitingFor = IoStatus::kWantRead;
  int64_t wait = settings_.keepAliveSeconds;
  if (connection.requests == 0) wait = std::max<int64_t>(wait, kTransferLimit.count());
  connection.deadline = SteadyClock::now() + std::chrono::seconds(wait);
  readRequest(connection);
}

void ConnectionLoop::readRequest(Connection& connection) {
  for (int i = 0; i < kReadsPerTurn; ++i) {
    if (connection.inputSize() > 0 && connection.state == Connection::State::kIdle) {
      connection.state = Connection::State::kHead;
      connection.deadline = SteadyClock::now() + kTransferLimit;
    }
    if (connection.hasRequestHead()) {
      dispatch(connection);
      return;
    }
    IoResult result = connection.receive();
    if (result.status == IoStatus::kDone) continue;
    if (result.status == IoStatus::kWantRead || result.status == IoStatus::kWantWrite) {
      connection.waitingFor = result.status;
    } else if (result.status == IoStatus::kClosed) {
      close(connection, connection.inputSize() > 0 ? "closed by the client within a request"
                                                   : "closed by the client");
    } else {
      close(connection, "reading failed: " + connection.transport->failure());
    }
    return;
  }
}

void ConnectionLoop::dispatch(Connection& connection) {
  connection.state = Connection::State::kBusy;
  Connection* processed = &connection;
  pool_.submit([this, processed] {
    process_(*processed, stopping_);
    handBack(*processed);
  });
}

void ConnectionLoop::handBack(Connection& connection) {
  {
    std::lock_guard<std::mutex> lock(returnedMutex_);
    returned_.push_back(&connection);
  }
  wake();
}

void ConnectionLoop::takeReturned() {
  std::vector<Connection*> back;
  {
    std::lock_guard<std::mutex> lock(returnedMutex_);
    back.swap(returned_);
  }
  for (Connection* connection : back) {
    if (connection->inHandshake) {
      connection->inHandshake = false;
      afterHandshakeStep(*connection, connection->handshakeResult);
    } else {
      deliver(*connection);
    }
    settle(*connection);
  }
}

void ConnectionLoop::deliver(Connection& connection) {
  connection.waitingFor = IoStatus::kDone;
  const Delivery delivery = connection.delivery;
  switch (delivery.kind) {
    case Delivery::Kind::kNormal:
      startWriting(connection);
      break;
    case Delivery::Kind::kDrop:
      close(connection, "dropped without an answer");
      break;
    case Delivery::Kind::kGarbage:
      connection.clearOutput();
      connection.out = kGarbage;
      connection.closeAfterAnswer = true;
      connection.closeNote = "garbage sent";
      startWriting(connection);
      break;
    case Delivery::Kind::kDelay:
      connection.state = Connection::State::kDelayed;
      connection.deadline =
          SteadyClock::now() + milliseconds(std::max<int64_t>(delivery.amount, 0));
      break;
    case Delivery::Kind::kDrip:
      connection.state = Connection::State::kWriting;
      connection.dripAllowance = 0;
      connection.deadline = SteadyClock::now();  // the first bytes go in the next turn
      connection.dripSent = connection.deadline;
      break;
  }
}

void ConnectionLoop::startWriting(Connection& connection) {
  connection.state = Connection::State::kWriting;
  connection.deadline = SteadyClock::now() + kTransferLimit;
  writeAnswer(connection);
}

// Lets a dripping answer send its next few bytes: a tenth of a second's worth, at least one.
// A client that takes none of them for the transfer limit is let go.
void ConnectionLoop::drip(Connection& connection, SteadyClock::time_point now) {
  if (now - connection.dripSent > kTransferLimit) {
    close(connection, "answer not taken within " + seconds(kTransferLimit.count()));
    return;
  }
  const int64_t rate = std::max<int64_t>(connection.delivery.amount, 1);
  const int64_t bytes = std::max<int64_t>(rate / 10, 1);
  const std::chrono::microseconds interval(1000000 * bytes / rate);
  connection.dripAllowance += bytes;
  connection.deadline = std::max(connection.deadline + interval, now);
  writeAnswer(connection);
}

void ConnectionLoop::writeAnswer(Connection& connection) {
  const bool dripping = connection.delivery.kind == Delivery::Kind::kDrip;
  while (connection.outputSize() > 0) {
    size_t limit =
        dripping ? static_cast<size_t>(connection.dripAllowance) : connection.outputSize();
    if (limit == 0) {
      connection.waitingFor = IoStatus::kDone;  // until the next drip
      return;
    }
    IoResult result = connection.send(limit);
    if (result.status == IoStatus::kDone) {
      if (dripping) {
        connection.dripAllowance -= static_cast<int64_t>(result.bytes);
        connection.dripSent = SteadyClock::now();
      } else {
        connection.deadline = SteadyClock::now() + kTransferLimit;
      }
      continue;
    }
    if (result.status == IoStatus::kWantRead || result.status == IoStatus::kWantWrite) {
      connection.waitingFor = result.status;
    } else if (result.status == IoStatus::kClosed) {
      close(connection, "the client left before the answer was sent");
    } else {
      close(connection, "sending failed: " + connection.transport->failure());
    }
    return;
  }
  connection.clearOutput();
  if (connection.closeAfterAnswer) {
    close(connection, connection.closeNote);
  } else {
    awaitRequest(connection);
  }
}

void ConnectionLoop::close(Connection& connection, const std::string& why) {
  connection.transport->finish();
  connection.state = Connection::State::kClosed;
  settle(connection);  // before its socket closes
  connection.clearOutput();
  log_.line("connection " + std::to_string(connection.id) + " closed after " +
            countOf(connection.requests) + " (" + why + ")");
}

void ConnectionLoop::wake() {
  const char byte = 1;
  net::sendSome(wakeOut_.get(), &byte, 1);  // a full pipe means the loop is woken already
}
