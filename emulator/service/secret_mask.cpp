// Masking the emulator's secrets.
#include "service/secret_mask.h"

#include <algorithm>

#include "util/ascii.h"

namespace {

const char kMasked[] = "***";
const char* const kCredentialParameters[] = {"credential", "client_secret"};

void replaceAll(std::string& text, const std::string& secret) {
  for (size_t at = text.find(secret); at != std::string::npos;
       at = text.find(secret, at + sizeof kMasked - 1)) {
    text.replace(at, secret.size(), kMasked);
  }
}

// `text` with every byte but the unreserved ones of URLs written as %XX, in `digits`.
std::string percentEncoded(const std::string& text, const char* digits) {
  std::string encoded;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += digits[c >> 4];
      encoded += digits[c & 15];
    }
  }
  return encoded;
}

// The values of the credential parameters among those from `start` on, each piece ending at
// one of `separators`, masked.
void maskParameters(std::string& text, size_t start, const char* separators) {
  while (start <= text.size()) {
    size_t end = text.find_first_of(separators, start);
    if (end == std::string::npos) end = text.size();
    const size_t equals = text.find('=', start);
    if (equals < end) {
      const std::string name = text.substr(start, equals - start);
      for (const char* parameter : kCredentialParameters) {
        if (name != parameter) continue;
        text.replace(equals + 1, end - equals - 1, kMasked);
        end = equals + sizeof kMasked;
      }
    }
    start = end + 1;
  }
}

}  // namespace

SecretMask::SecretMask(const std::vector<std::string>& secrets) {
  for (const std::string& secret : secrets) {
    if (secret.empty()) continue;
    for (const std::string& form : {secret, percentEncoded(secret, "0123456789ABCDEF"),
                                    percentEncoded(secret, "0123456789abcdef")}) {
      if (std::find(hidden_.begin(), hidden_.end(), form) == hidden_.end()) {
        hidden_.push_back(form);
      }
    }
  }
  std::sort(hidden_.begin(), hidden_.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
}

std::string SecretMask::text(std::string text) const {
  for (const std::string& secret : hidden_) replaceAll(text, secret);
  return text;
}

std::string SecretMask::target(const std::string& target) const {
  std::string masked = text(target);
  const size_t query = masked.find('?');
  if (query != std::string::npos) maskParameters(masked, query + 1, "&?#");
  return masked;
}

std::string SecretMask::body(std::string body) const {
  body = text(std::move(body));
  maskParameters(body, 0, "&");
  return body;
}

std::string SecretMask::headerValue(const std::string& name, std::string value) const {
  if (equalsIgnoreCase(name, "Authorization") || equalsIgnoreCase(name, "Proxy-Authorization")) {
    const size_t blank = value.find(' ');
    return blank == std::string::npos ? kMasked : value.substr(0, blank) + " " + kMasked;
  }
  if (equalsIgnoreCase(name, "x-ca-signature")) return kMasked;
  return text(std::move(value));
}
