// What child processes share on every system.
#include "support/process.h"

namespace testing_support {

std::string asWritten(const std::string& text) {
#ifdef _WIN32
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    result += text[i];
  }
  return result;
#else
  return text;
#endif
}

std::vector<std::string> withVariable(std::vector<std::string> environment,
                                      const std::string& entry) {
  const std::string name = entry.substr(0, entry.find('=') + 1);
  for (std::string& existing : environment) {
    if (existing.compare(0, name.size(), name) == 0) {
      existing = entry;
      return environment;
    }
  }
  environment.push_back(entry);
  return environment;
}

}  // namespace testing_support
