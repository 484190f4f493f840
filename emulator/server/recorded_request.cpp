// Reading a recorded request's header lines and target.
#include "server/recorded_request.h"

#include "util/ascii.h"

namespace {

// The line's value when it is a header named `name`.
bool valueOf(const std::string& line, const std::string& name, std::string& value) {
  size_t colon = line.find(':');
  if (colon != name.size() || !equalsIgnoreCase(line.substr(0, colon), name)) return false;
  size_t start = line.find_first_not_of(" \t", colon + 1);
  value = start == std::string::npos ? std::string() : line.substr(start);
  return true;
}

}  // namespace

std::string RecordedRequest::header(const std::string& name) const {
  std::string value;
  for (const std::string& line : headers) {
    if (valueOf(line, name, value)) return value;
  }
  return std::string();
}

bool RecordedRequest::hasHeader(const std::string& name) const {
  std::string value;
  for (const std::string& line : headers) {
    if (valueOf(line, name, value)) return true;
  }
  return false;
}

std::string RecordedRequest::path() const { return target.substr(0, target.find('?')); }

std::string RecordedRequest::query() const {
  size_t mark = target.find('?');
  return mark == std::string::npos ? std::string() : target.substr(mark + 1);
}
