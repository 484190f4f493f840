// The plain transport: the socket as it is.
#include "transport.h"

namespace {

class PlainTransport : public Transport {
 public:
  explicit PlainTransport(net::Socket socket) : socket_(std::move(socket)) {}

  bool hasHandshake() const override { return false; }
  IoResult handshake() override { return {IoStatus::kDone, 0}; }

  IoResult read(char* buffer, size_t size) override {
    return result(net::receiveSome(socket_.get(), buffer, size), IoStatus::kWantRead);
  }

  IoResult write(const char* data, size_t size) override {
    return result(net::sendSome(socket_.get(), data, size), IoStatus::kWantWrite);
  }

  void finish() override {}
  std::string failure() const override { return failure_; }
  net::SocketHandle socket() const override { return socket_.get(); }

 private:
  IoResult result(long count, IoStatus blocked) {
    if (count > 0) return {IoStatus::kDone, static_cast<size_t>(count)};
    if (count == 0) return {IoStatus::kClosed, 0};
    if (count == net::kWouldBlock) return {blocked, 0};
    failure_ = net::lastSocketError();
    return {IoStatus::kFailed, 0};
  }

  net::Socket socket_;
  std::string failure_;
};

class PlainMaker : public TransportMaker {
 public:
  std::unique_ptr<Transport> make(net::Socket socket) override {
    return std::make_unique<PlainTransport>(std::move(socket));
  }
  const char* name() const override { return "plain"; }
};

}  // namespace

std::unique_ptr<TransportMaker> plainTransports() { return std::make_unique<PlainMaker>(); }
