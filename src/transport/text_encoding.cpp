// Conversion of received texts into the local code page (GBK, code page 936).
#include "transport/text_encoding.h"

#include "platform/platform.h"

std::string utf8ToLocal(const std::string& utf8) {
  std::string local;
  platform::convertCharset("UTF-8", "CP936", utf8, local);
  return local;
}

std::string localToUtf8(const std::string& local) {
  std::string utf8;
  platform::convertCharset("CP936", "UTF-8", local, utf8);
  return utf8;
}
