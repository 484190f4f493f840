// Checking UTF-8 with RapidJSON's decoder.
#include "service/utf8_text.h"

#include <rapidjson/encodings.h>
#include <rapidjson/memorystream.h>

namespace {

struct Discard {
  void Put(char) {}
};

// The length of the well-formed character that begins at `at`, or 0.
size_t characterAt(const std::string& text, size_t at) {
  rapidjson::MemoryStream in(text.data() + at, text.size() - at);
  Discard out;
  return rapidjson::UTF8<>::Validate(in, out) ? in.Tell() : 0;
}

// The length of the longest well-formed start of `text` from `at` on.
size_t validRun(const std::string& text, size_t at) {
  size_t end = at;
  while (end < text.size()) {
    if (static_cast<unsigned char>(text[end]) < 0x80) {
      ++end;
      continue;
    }
    const size_t length = characterAt(text, end);
    if (length == 0) break;
    end += length;
  }
  return end - at;
}

}  // namespace

bool isUtf8(const std::string& text) { return validRun(text, 0) == text.size(); }

size_t characterBoundary(const std::string& text, size_t size) {
  if (size >= text.size()) return text.size();
  // A character is at most four bytes: its first byte lies at most three before the cut.
  for (size_t back = 1; back <= 3 && back <= size; ++back) {
    const unsigned char byte = static_cast<unsigned char>(text[size - back]);
    if ((byte & 0xC0) == 0x80) continue;  // a continuation byte
    const size_t length = byte >= 0xC0 ? characterAt(text, size - back) : 0;
    return length > back ? size - back : size;
  }
  return size;
}

std::string validUtf8(const std::string& text) {
  std::string valid;
  for (size_t at = 0; at < text.size();) {
    const size_t run = validRun(text, at);
    valid.append(text, at, run);
    at += run;
    if (at < text.size()) {
      valid += "\xEF\xBF\xBD";
      ++at;
    }
  }
  return valid;
}
