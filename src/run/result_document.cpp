// The result document's bytes, from one template for both destinations. Strings are escaped
// as RapidJSON's Writer does without validation: a backslash before '"' and '\', the short
// forms \b \t \n \f \r, "\u00XX" in upper-case hexadecimal for the other bytes below 0x20,
// every other byte as it is.
#include "run/result_document.h"

#include <cstdint>
#include <cstring>

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

// What follows the backslash for `c`; 0 when `c` stands as it is.
char escapeOf(unsigned char c) {
  switch (c) {
    case '"':
      return '"';
    case '\\':
      return '\\';
    case '\b':
      return 'b';
    case '\t':
      return 't';
    case '\n':
      return 'n';
    case '\f':
      return 'f';
    case '\r':
      return 'r';
    default:
      return c < 0x20 ? 'u' : 0;
  }
}

// Non-zero when one of the eight bytes of `word` needs escaping: below 0x20, '"' or '\'.
uint64_t escapeBits(uint64_t word) {
  const uint64_t ones = 0x0101010101010101ULL;
  const uint64_t highBits = 0x8080808080808080ULL;
  // Some byte of v is below n (n <= 0x80) exactly when this is non-zero.
  auto below = [&](uint64_t v, uint64_t n) { return (v - ones * n) & ~v & highBits; };
  return below(word, 0x20) | below(word ^ (ones * '"'), 1) | below(word ^ (ones * '\\'), 1);
}

// True when none of the 32 bytes at `p` needs escaping.
bool plainBlock(const char* p) {
  uint64_t words[4];
  std::memcpy(words, p, sizeof(words));
  return (escapeBits(words[0]) | escapeBits(words[1]) | escapeBits(words[2]) |
          escapeBits(words[3])) == 0;
}

struct StringSink {
  std::string& out;
  void put(const char* data, size_t size) { out.append(data, size); }
};

struct FileSink {
  std::FILE* file;
  bool failed = false;
  void put(const char* data, size_t size) {
    if (size != 0 && std::fwrite(data, 1, size, file) != size) failed = true;
  }
};

template <typename Sink>
void putText(Sink& sink, const char* text) {
  sink.put(text, std::strlen(text));
}

// `text` up to its first NUL as a quoted JSON string; runs that need no escape go out whole.
template <typename Sink>
void putString(Sink& sink, const std::string& text) {
  const char* p = text.c_str();
  const char* const end = p + strnlen(p, text.size());
  const char* run = p;
  sink.put("\"", 1);
  while (p != end) {
    if (end - p >= 32 && plainBlock(p)) {
      p += 32;
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(*p);
    const char escape = escapeOf(c);
    if (escape == 0) {
      ++p;
      continue;
    }
    sink.put(run, static_cast<size_t>(p - run));
    const char escaped[6] = {'\\', escape, '0', '0', kHexDigits[c >> 4], kHexDigits[c & 0x0F]};
    sink.put(escaped, escape == 'u' ? 6 : 2);
    run = ++p;
  }
  sink.put(run, static_cast<size_t>(p - run));
  sink.put("\"", 1);
}

template <typename Sink>
void putDocument(Sink& sink, bool succeeded, const std::string& message,
                 const std::string& fileId) {
  putText(sink,
          succeeded ? "{\"code\":\"success\",\"message\":" : "{\"code\":\"failed\",\"message\":");
  putString(sink, message);
  putText(sink, ",\"data\":{\"fileitemid\":");
  putString(sink, fileId);
  putText(sink, "}}");
}

}  // namespace

std::string buildResultDocument(bool succeeded, const std::string& message,
                                const std::string& fileId) {
  std::string document;
  document.reserve(message.size() + fileId.size() + 64);
  StringSink sink{document};
  putDocument(sink, succeeded, message, fileId);
  return document;
}

bool writeResultDocument(std::FILE* file, bool succeeded, const std::string& message,
                         const std::string& fileId) {
  FileSink sink{file};
  putDocument(sink, succeeded, message, fileId);
  return !sink.failed;
}
