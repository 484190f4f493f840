// Buffers of a connection.
#include "connection.h"

#include <algorithm>
#include <cstring>

namespace {

// Longer than any request head httplib accepts: such input goes to httplib, which rejects it.
const size_t kMaxHeadBytes = 64 * 1024;
const size_t kReadChunk = 16 * 1024;

}  // namespace

Connection::Connection(uint64_t id, std::unique_ptr<Transport> transport)
    : id(id), transport(std::move(transport)) {}

bool Connection::hasRequestHead() const {
  return inputSize() > kMaxHeadBytes || in.find("\r\n\r\n", inStart) != std::string::npos;
}

size_t Connection::takeInput(char* to, size_t size) {
  size_t count = std::min(size, inputSize());
  std::memcpy(to, in.data() + inStart, count);
  inStart += count;
  if (inStart == in.size()) {
    in.clear();
    inStart = 0;
    if (in.capacity() > kReadChunk) in.shrink_to_fit();
  }
  return count;
}

IoResult Connection::receive() {
  char chunk[kReadChunk];
  IoResult result = transport->read(chunk, sizeof(chunk));
  if (result.status == IoStatus::kDone) {
    if (inStart > 0) {
      in.erase(0, inStart);
      inStart = 0;
    }
    in.append(chunk, result.bytes);
  }
  return result;
}

IoResult Connection::send(size_t limit) {
  IoResult result = transport->write(out.data() + outSent, std::min(limit, outputSize()));
  if (result.status == IoStatus::kDone) {
    outSent += result.bytes;
    if (outSent == out.size()) clearOutput();
  }
  return result;
}

void Connection::clearOutput() {
  std::string().swap(out);
  outSent = 0;
}
