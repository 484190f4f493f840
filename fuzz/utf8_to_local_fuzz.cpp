// Converts arbitrary bytes; the result must be empty or no longer than the input.
#include <cstdint>
#include <string>

#include "transport/text_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  std::string local = utf8ToLocal(input);
  if (local.size() > input.size()) __builtin_trap();
  return 0;
}
