// Reading requests byte for byte, the way the gateway and the service see them.
#include "emulator_request.h"

#include "platform/platform.h"

std::string EmulatorRequest::header(const std::string& name) const {
  for (const auto& line : headers) {
    if (platform::equalsIgnoreCase(line.first, name)) return line.second;
  }
  return std::string();
}

bool EmulatorRequest::hasHeader(const std::string& name) const {
  for (const auto& line : headers) {
    if (platform::equalsIgnoreCase(line.first, name)) return true;
  }
  return false;
}

std::string EmulatorRequest::path() const { return target.substr(0, target.find('?')); }

std::string EmulatorRequest::query() const {
  size_t mark = target.find('?');
  return mark == std::string::npos ? std::string() : target.substr(mark + 1);
}

QueryMap parseRawParameters(const std::string& text) {
  QueryMap parameters;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('&', start);
    if (end == std::string::npos) end = text.size();
    std::string piece = text.substr(start, end - start);
    if (!piece.empty()) {
      size_t equals = piece.find('=');
      if (equals == std::string::npos) {
        parameters.emplace(piece, std::string());
      } else {
        parameters.emplace(piece.substr(0, equals), piece.substr(equals + 1));
      }
    }
    start = end + 1;
  }
  return parameters;
}

bool takeCredential(const std::string& authorization, const std::string& scheme,
                    std::string& token) {
  if (authorization.size() < scheme.size() + 1 || authorization[scheme.size()] != ' ') {
    return false;
  }
  if (!platform::equalsIgnoreCase(authorization.substr(0, scheme.size()), scheme)) return false;
  token = authorization.substr(scheme.size() + 1);
  return true;
}
