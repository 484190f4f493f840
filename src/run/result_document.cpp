// The result document's bytes, from one template for both destinations. Strings are escaped
// as RapidJSON's Writer does without validation: a backslash before '"' and '\', the short
// forms \b \t \n \f \r, "\u00XX" in upper-case hexadecimal for the other bytes below 0x20,
// every other byte as it is.
#include "run/result_document.h"

#include <cstring>

#include "util/json_text.h"

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
  const char* p = text.data();
  const char* const end = p + text.size();
  const char* run = p;
  sink.put("\"", 1);
  while (p != end) {
    p = skipPlainJsonText(p, end);
    if (p == end || *p == '\0') break;
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
