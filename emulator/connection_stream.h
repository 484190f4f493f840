// httplib's view of a connection while a worker processes one request on it, so httplib
// parses the request, routes it and writes the answer. Reads take the buffered input first,
// then read the transport, waiting for the socket up to a deadline. Writes collect in the
// connection's output for the loop to send, except that pending output is sent before a read
// waits (so "100 Continue" reaches the client before its body is read). A worker thus never
// waits on a client that is slow to take an answer.
#pragma once

#include <httplib.h>

#include <atomic>
#include <string>

#include "connection.h"

class ConnectionStream : public httplib::Stream {
 public:
  // Reading must be done by `readDeadline`; each wait to send may last kTransferLimit;
  // `stopping` cuts every wait short. `connection` must outlive the stream.
  ConnectionStream(Connection& connection, SteadyClock::time_point readDeadline,
                   const std::atomic<bool>& stopping);

  // True once a read or write failed or ran out of time: the connection is of no more use.
  bool broken() const { return broken_; }

  bool is_readable() const override;
  bool is_writable() const override { return !broken_; }
  ssize_t read(char* ptr, size_t size) override;
  ssize_t write(const char* ptr, size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override;
  void get_local_ip_and_port(std::string& ip, int& port) const override;
  socket_t socket() const override;

 private:
  // At least one byte of input; false at the end of the stream, or when broken.
  bool fill();
  // Sends all output; false when broken.
  bool flush();
  // Waits until the socket is ready for what the transport wants, at most until `until`.
  bool waitFor(IoStatus want, SteadyClock::time_point until) const;

  Connection& connection_;
  const SteadyClock::time_point readDeadline_;
  const std::atomic<bool>& stopping_;
  bool broken_ = false;
};
