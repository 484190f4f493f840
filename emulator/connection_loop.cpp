// The connection loop: one turn waits for sockets and deadlines, then moves every connection
// that is ready one step on.
#include "connection_loop.h"

#include <algorithm>

namespace {

using std::chrono::milliseconds;

// Room for many clients connecting at once; the system caps it at its own maximum.
const int kListenBacklog = 4096;
const int kAcceptsPerTurn = 64;
const int kReadsPerTurn = 16;
// After accepting failed (out of descriptors, say), the listener rests this long.
const milliseconds kAcceptPause{100};
const char kGarbage[] = "\x16\x03garbage\r\n";

// Milliseconds from `now` until `then`, rounded up, so that a wait ends past the deadline.
int millisUntil(SteadyClock::time_point now, SteadyClock::time_point then) {
  if (then <= now) return 0;
  auto ms = std::chrono::duration_cast<milliseconds>(then - now).count() + 1;
  return static_cast<int>(std::min<int64_t>(ms, 3600 * 1000));
}

net::SocketWatch watchOf(net::SocketHandle socket, IoStatus want) {
  net::SocketWatch watch;
  watch.socket = socket;
  watch.read = want == IoStatus::kWantRead;
  watch.write = want == IoStatus::kWantWrite;
  return watch;
}

std::string countOf(int64_t requests) {
  return std::to_string(requests) + (requests == 1 ? " request" : " requests");
}

std::string seconds(int64_t count) { return std::to_string(count) + " s"; }

}  // namespace

ConnectionLoop::ConnectionLoop(const Settings& settings, Process process, EmulatorLog& log)
    : settings_(settings), process_(std::move(process)), log_(log), pool_(settings.workers) {
  if (net::startSockets()) net::makeSocketPair(wakeIn_, wakeOut_);
}

ConnectionLoop::~ConnectionLoop() { pool_.stop(); }

int ConnectionLoop::bind(const std::string& host, int port, std::string& error) {
  if (!net::startSockets()) {
    error = "sockets are not available";
    return -1;
  }
  listener_ = net::listenOn(host, port, kListenBacklog, error);
  return listener_.valid() ? net::localPort(listener_.get()) : -1;
}

bool ConnectionLoop::run() {
  if (!listener_.valid() || !wakeIn_.valid()) return false;
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
  using State = Connection::State;
  SteadyClock::time_point now = SteadyClock::now();
  SteadyClock::time_point next = now + std::chrono::hours(1);
  watches_.assign(1, watchOf(wakeIn_.get(), IoStatus::kWantRead));
  const bool accepting = now >= acceptPausedUntil_;
  if (accepting) {
    watches_.push_back(watchOf(listener_.get(), IoStatus::kWantRead));
  } else {
    next = std::min(next, acceptPausedUntil_);
  }
  const size_t first = watches_.size();
  watched_.clear();
  for (auto& entry : connections_) {
    Connection& connection = *entry.second;
    if (connection.state == State::kBusy || connection.state == State::kClosed) continue;
    next = std::min(next, connection.deadline);
    if (connection.state == State::kDelayed || connection.waitingFor == IoStatus::kDone) continue;
    watches_.push_back(watchOf(connection.transport->socket(), connection.waitingFor));
    watched_.push_back(&connection);
  }
  if (net::waitForSockets(watches_, millisUntil(now, next)) < 0) {
    log_.line("waiting for connections failed: " + net::lastSocketError());
    return;
  }
  if (watches_[0].ready) {
    char drained[64];
    while (net::receiveSome(wakeIn_.get(), drained, sizeof(drained)) > 0) {
    }
  }
  takeReturned();
  if (accepting && watches_[1].ready) acceptWaiting(now);
  for (size_t i = 0; i < watched_.size(); ++i) {
    if (watches_[first + i].ready) step(*watched_[i]);
  }
  expire(SteadyClock::now());
  for (auto it = connections_.begin(); it != connections_.end();) {
    it = it->second->state == State::kClosed ? connections_.erase(it) : std::next(it);
  }
}

void ConnectionLoop::acceptWaiting(SteadyClock::time_point now) {
  for (int i = 0; i < kAcceptsPerTurn; ++i) {
    bool again = false;
    std::string error;
    net::Socket socket = net::acceptFrom(listener_.get(), again, error);
    if (!socket.valid()) {
      if (!again) {
        log_.line("cannot accept a connection: " + error);
        acceptPausedUntil_ = now + kAcceptPause;
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
    handshake(connection);
  }
}

void ConnectionLoop::step(Connection& connection) {
  switch (connection.state) {
    case Connection::State::kHandshake:
      handshake(connection);
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

void ConnectionLoop::expire(SteadyClock::time_point now) {
  using State = Connection::State;
  for (auto& entry : connections_) {
    Connection& connection = *entry.second;
    if (connection.state == State::kBusy || connection.state == State::kClosed ||
        connection.deadline > now) {
      continue;
    }
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
}

void ConnectionLoop::handshake(Connection& connection) {
  IoResult result = connection.transport->handshake();
  switch (result.status) {
    case IoStatus::kDone:
      awaitRequest(connection);
      break;
    case IoStatus::kWantRead:
    case IoStatus::kWantWrite:
      connection.waitingFor = result.status;
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
  for (Connection* connection : back) deliver(*connection);
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
      break;
  }
}

void ConnectionLoop::startWriting(Connection& connection) {
  connection.state = Connection::State::kWriting;
  connection.deadline = SteadyClock::now() + kTransferLimit;
  writeAnswer(connection);
}

// Lets a dripping answer send its next few bytes: a tenth of a second's worth, at least one.
void ConnectionLoop::drip(Connection& connection, SteadyClock::time_point now) {
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
  connection.clearOutput();
  log_.line("connection " + std::to_string(connection.id) + " closed after " +
            countOf(connection.requests) + " (" + why + ")");
}

void ConnectionLoop::wake() {
  const char byte = 1;
  net::sendSome(wakeOut_.get(), &byte, 1);  // a full pipe means the loop is woken already
}
