// Conversion of received texts into the local code page (GBK, code page 936).
#include "transport/text_encoding.h"

#include <cstdint>
#include <cstring>

#include "platform/platform.h"

bool isAscii(const char* begin, const char* end) {
  // Thirty-two bytes at a time, stopping at the first block with a high bit: answers can
  // be tens of megabytes.
  uint64_t highBits = 0;
  for (; end - begin >= 32 && (highBits & 0x8080808080808080ULL) == 0; begin += 32) {
    uint64_t words[4];
    std::memcpy(words, begin, sizeof(words));
    highBits |= words[0] | words[1] | words[2] | words[3];
  }
  for (; end - begin >= 8; begin += 8) {
    uint64_t word;
    std::memcpy(&word, begin, sizeof(word));
    highBits |= word;
  }
  for (; begin != end; ++begin) highBits |= static_cast<unsigned char>(*begin);
  return (highBits & 0x8080808080808080ULL) == 0;
}

std::string utf8ToLocal(std::string utf8) {
  if (isAscii(utf8.data(), utf8.data() + utf8.size())) return utf8;
  std::string local;
  platform::utf8ToLocalCodePage(utf8, local);
  return local;
}

std::string localToUtf8(std::string local) {
  if (isAscii(local.data(), local.data() + local.size())) return local;
  std::string utf8;
  platform::localCodePageToUtf8(local, utf8);
  return utf8;
}
