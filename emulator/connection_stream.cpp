// Blocking reads and writes for httplib over a non-blocking connection.
#include "connection_stream.h"

#include <algorithm>

namespace {

// Waits are cut into slices this long, to notice a stop.
const std::chrono::milliseconds kWaitSlice{100};

}  // namespace

ConnectionStream::ConnectionStream(Connection& connection, SteadyClock::time_point readDeadline,
                                   const std::atomic<bool>& stopping)
    : connection_(connection), readDeadline_(readDeadline), stopping_(stopping) {}

bool ConnectionStream::is_readable() const {
  return connection_.inputSize() > 0 ||
         net::waitForSocket(connection_.transport->socket(), true, false, 0) > 0;
}

ssize_t ConnectionStream::read(char* ptr, size_t size) {
  if (broken_) return -1;
  if (connection_.inputSize() == 0 && !fill()) return broken_ ? -1 : 0;
  return static_cast<ssize_t>(connection_.takeInput(ptr, size));
}

ssize_t ConnectionStream::write(const char* ptr, size_t size) {
  if (broken_) return -1;
  connection_.out.append(ptr, size);
  return static_cast<ssize_t>(size);
}

void ConnectionStream::get_remote_ip_and_port(std::string& ip, int& port) const {
  net::endpointOf(connection_.transport->socket(), true, ip, port);
}

void ConnectionStream::get_local_ip_and_port(std::string& ip, int& port) const {
  net::endpointOf(connection_.transport->socket(), false, ip, port);
}

socket_t ConnectionStream::socket() const {
  return static_cast<socket_t>(connection_.transport->socket());
}

bool ConnectionStream::fill() {
  for (;;) {
    IoResult result = connection_.receive();
    if (result.status == IoStatus::kDone) return true;
    if (result.status == IoStatus::kClosed) return false;
    if (result.status == IoStatus::kFailed || (connection_.outputSize() > 0 && !flush()) ||
        !waitFor(result.status, readDeadline_)) {
      broken_ = true;
      return false;
    }
  }
}

bool ConnectionStream::flush() {
  while (connection_.outputSize() > 0) {
    IoResult result = connection_.send(connection_.outputSize());
    if (result.status == IoStatus::kDone) continue;
    if (result.status == IoStatus::kClosed || result.status == IoStatus::kFailed ||
        !waitFor(result.status, SteadyClock::now() + kTransferLimit)) {
      broken_ = true;
      return false;
    }
  }
  return true;
}

bool ConnectionStream::waitFor(IoStatus want, SteadyClock::time_point until) const {
  while (!stopping_) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - SteadyClock::now());
    if (left.count() <= 0) return false;
    int ready = net::waitForSocket(connection_.transport->socket(), want == IoStatus::kWantRead,
                                   want == IoStatus::kWantWrite,
                                   static_cast<int>(std::min(left, kWaitSlice).count()));
    if (ready != 0) return ready > 0;
  }
  return false;
}
