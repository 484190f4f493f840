// Received texts: checked as UTF-8, and converted into the local code page.
#include "transport/text_encoding.h"

#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "platform/platform.h"

namespace {

// Converted at most this many bytes at a time.
const size_t kPieceBytes = 64 * 1024;

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

// Where the piece of UTF-8 that starts at `begin` ends: at most kPieceBytes on, and not within
// a character (a text that has continuation bytes there is malformed anyway).
const char* pieceEnd(const char* begin, const char* end) {
  if (static_cast<size_t>(end - begin) <= kPieceBytes) return end;
  const char* stop = begin + kPieceBytes;
  for (int back = 0; back < 3 && (static_cast<unsigned char>(*stop) & 0xC0) == 0x80; ++back) {
    --stop;
  }
  return stop;
}

// The length of the well-formed multi-byte UTF-8 character at [at, end), or 0.
size_t characterLength(const unsigned char* at, const unsigned char* end) {
  const unsigned lead = *at;
  size_t length = 0;
  unsigned low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : low;    // no overlong form
    high = lead == 0xED ? 0x9F : high;  // no surrogate
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : low;    // no overlong form
    high = lead == 0xF4 ? 0x8F : high;  // nothing above U+10FFFF
  }
  if (length == 0 || static_cast<size_t>(end - at) < length || at[1] < low || at[1] > high) {
    return 0;
  }
  for (size_t i = 2; i < length; ++i) {
    if ((at[i] & 0xC0) != 0x80) return 0;
  }
  return length;
}

}  // namespace

bool isAscii(const char* begin, const char* end) { return findSpecial(begin, end, false) == end; }

bool isAsciiWithoutNul(const char* begin, const char* end) {
  return findSpecial(begin, end, true) == end;
}

bool isUtf8(const char* begin, const char* end) {
  const char* at = findSpecial(begin, end, false);
  while (at != end) {
    const size_t length = characterLength(reinterpret_cast<const unsigned char*>(at),
                                          reinterpret_cast<const unsigned char*>(end));
    if (length == 0) return false;
    at = findSpecial(at + length, end, false);
  }
  return true;
}

std::string utf8OrEmpty(std::string text) {
  if (!isUtf8(text.data(), text.data() + text.size())) text.clear();
  return text;
}

std::string utf8ToLocal(std::string utf8) {
  if (isAscii(utf8.data(), utf8.data() + utf8.size())) return utf8;
  return utf8ToLocal(utf8.data(), utf8.data() + utf8.size());
}

// The local code page never takes more bytes for a character than UTF-8 does.
std::string utf8ToLocal(const char* begin, const char* end) {
  std::string local;
  local.reserve(static_cast<size_t>(end - begin));
  std::string piece;
  std::string converted;
  while (begin != end) {
    const char* stop = pieceEnd(begin, end);
    piece.assign(begin, stop);
    if (!platform::utf8ToLocalCodePage(piece, converted)) return std::string();
    local += converted;
    begin = stop;
  }
  return local;
}
