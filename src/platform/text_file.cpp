// Reading a whole text file, the same on every system.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/platform.h"

namespace platform {

bool readTextFile(const std::string& path, std::string& text, std::string& reason, size_t limit) {
  text.clear();
  errno = 0;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) {
    reason = errno != 0 ? std::strerror(errno) : "unknown error";
    return false;
  }
  char block[65536];
  while (text.size() < limit) {
    const size_t got =
        std::fread(block, 1, std::min(sizeof(block), limit - text.size()), file.get());
    if (got == 0) break;
    text.append(block, got);
  }
  if (std::ferror(file.get())) {
    reason = errno != 0 ? std::strerror(errno) : "unknown error";
    return false;
  }
  text.resize(strnlen(text.c_str(), text.size()));
  return true;
}

}  // namespace platform
