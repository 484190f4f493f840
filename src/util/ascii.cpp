// ASCII-only text helpers.
#include "util/ascii.h"

namespace {

bool isControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\x7F'; }

unsigned char lower(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

}  // namespace

bool equalsIgnoreCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::string toLowerAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(lower(static_cast<unsigned char>(c)));
  return text;
}

bool holdsControlCharacter(const std::string& text) {
  for (char c : text) {
    if (isControl(c)) return true;
  }
  return false;
}

std::string escapeControlCharacters(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    if (!isControl(c)) {
      escaped += c;
      continue;
    }
    const unsigned char byte = static_cast<unsigned char>(c);
    escaped += "\\x";
    escaped += kHex[byte >> 4];
    escaped += kHex[byte & 0x0F];
  }
  return escaped;
}
