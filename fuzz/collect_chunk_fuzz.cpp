// Splits the input into chunks (a length byte before each) and collects them as libcurl would.
#include <cstdint>
#include <cstring>
#include <string>

#include "transport/http_exchange.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ResponseBuffer buffer;
  std::string expected;
  size_t pos = 0;
  while (pos < size) {
    size_t length = data[pos++];
    if (length > size - pos) length = size - pos;
    std::string chunk(reinterpret_cast<const char*>(data + pos), length);
    if (collectChunk(&chunk[0], 1, chunk.size(), &buffer) != chunk.size()) __builtin_trap();
    expected += chunk.substr(0, chunk.find('\0'));
    pos += length;
  }
  if (buffer.text != expected) __builtin_trap();
  return 0;
}
