// Issuing and checking the emulator's tokens.
#include "service/token_store.h"

#include "platform/platform.h"
#include "service/emulator_request.h"

std::string TokenStore::issue(int64_t nowMillis, int64_t lifetimeSeconds) {
  while (!byExpiry_.empty() && byExpiry_.begin()->first <= nowMillis) {
    expiry_.erase(byExpiry_.begin()->second);
    byExpiry_.erase(byExpiry_.begin());
  }
  std::string token = prefix_ + platform::makeUuid();
  const int64_t expiry = (nowMillis / 1000 + lifetimeSeconds) * 1000;
  expiry_[token] = expiry;
  byExpiry_.emplace(expiry, token);
  return token;
}

int64_t TokenStore::expiryOf(const std::string& token) const {
  auto found = expiry_.find(token);
  return found == expiry_.end() ? 0 : found->second;
}

std::string TokenStore::check(const std::string& authorization, const char* scheme,
                              int64_t nowMillis) const {
  std::string token;
  if (!takeCredential(authorization, scheme, token) || token.empty()) return "token missing";
  auto found = expiry_.find(token);
  if (found == expiry_.end()) return "token unknown";
  if (found->second <= nowMillis) return "token expired";
  return std::string();
}

void TokenStore::clear() {
  expiry_.clear();
  byExpiry_.clear();
}
