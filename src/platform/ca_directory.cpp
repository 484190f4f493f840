// Looking at a CA directory through std::filesystem, the same on every system: whether it
// holds certificates under OpenSSL's hashed names, and whether a bundle changed after it.
#include <cctype>
#include <filesystem>

#include "platform/platform.h"

namespace platform {

namespace {

bool isHashName(const std::string& name) {
  const size_t dot = name.find('.');
  if (dot != 8 || dot + 1 == name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (i < 8 ? !std::isxdigit(c) : i > 8 && !std::isdigit(c)) return false;
  }
  return true;
}

}  // namespace

bool holdsHashedCertificates(const std::string& path) {
  std::error_code error;
  for (std::filesystem::directory_iterator it(path, error), end; !error && it != end;
       it.increment(error)) {
    if (isHashName(it->path().filename().string())) return true;
  }
  return false;
}

bool changedAfter(const std::string& path, const std::string& other) {
  std::error_code error;
  const auto changed = std::filesystem::last_write_time(path, error);
  if (error) return false;
  const auto otherChanged = std::filesystem::last_write_time(other, error);
  return !error && changed > otherChanged;
}

}  // namespace platform
