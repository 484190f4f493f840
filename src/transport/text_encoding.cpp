// Conversion of received texts into the local code page (GBK, code page 936).
#include "transport/text_encoding.h"

#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "platform/platform.h"

namespace {

// The first byte of [begin, end) that is at least 0x80, or also NUL when `nulToo`; `end` when
// there is none. Sixteen bytes at a time with SSE2, eight elsewhere: answers can be tens of
// megabytes.
const char* findSpecial(const char* begin, const char* end, bool nulToo) {
#ifdef __SSE2__
  const __m128i zero = _mm_setzero_si128();
  for (; end - begin >= 16; begin += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin));
    __m128i special = bytes;  // the high bit of each byte
    if (nulToo) special = _mm_or_si128(special, _mm_cmpeq_epi8(bytes, zero));
    if (_mm_movemask_epi8(special) != 0) break;
  }
#else
  const uint64_t ones = 0x0101010101010101ULL;
  const uint64_t highBits = 0x8080808080808080ULL;
  for (; end - begin >= 8; begin += 8) {
    uint64_t word;
    std::memcpy(&word, begin, sizeof(word));
    // Without a NUL the subtraction borrows nowhere: a high bit left marks a NUL.
    const uint64_t nuls = nulToo ? (word - ones) & ~word : 0;
    if (((word | nuls) & highBits) != 0) break;
  }
#endif
  for (; begin != end; ++begin) {
    if (static_cast<unsigned char>(*begin) >= 0x80 || (nulToo && *begin == '\0')) break;
  }
  return begin;
}

}  // namespace

bool isAscii(const char* begin, const char* end) { return findSpecial(begin, end, false) == end; }

bool isAsciiWithoutNul(const char* begin, const char* end) {
  return findSpecial(begin, end, true) == end;
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
