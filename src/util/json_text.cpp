// Block scans of JSON string content: SSE2 where the compiler targets it, eight-byte words
// elsewhere.
#include "util/json_text.h"

#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

#ifdef __SSE2__

bool plainBlock(const char* p) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i lastControl = _mm_set1_epi8(0x1F);
  // Unsigned: a byte is at most 0x1F exactly when the larger of it and 0x1F is 0x1F.
  const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(bytes, lastControl), lastControl);
  const __m128i quote = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('"'));
  const __m128i backslash = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\'));
  return _mm_movemask_epi8(_mm_or_si128(control, _mm_or_si128(quote, backslash))) == 0;
}

#else

// Non-zero when a byte of `word` is below 0x20, '"' or '\'.
uint64_t specialBytes(uint64_t word) {
  const uint64_t ones = 0x0101010101010101ULL;
  const uint64_t highBits = 0x8080808080808080ULL;
  // Some byte of v is below n (n <= 0x80) exactly when this is non-zero.
  auto below = [&](uint64_t v, uint64_t n) { return (v - ones * n) & ~v & highBits; };
  return below(word, 0x20) | below(word ^ (ones * '"'), 1) | below(word ^ (ones * '\\'), 1);
}

bool plainBlock(const char* p) {
  uint64_t words[2];
  std::memcpy(words, p, sizeof(words));
  return (specialBytes(words[0]) | specialBytes(words[1])) == 0;
}

#endif

}  // namespace

const char* skipPlainJsonText(const char* begin, const char* end) {
  while (end - begin >= 16 && plainBlock(begin)) begin += 16;
  return begin;
}
