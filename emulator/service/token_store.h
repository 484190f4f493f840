// The tokens the emulator has issued, of one kind (service or gateway), with their expiry;
// expired ones are dropped as new ones come. Not thread-safe: the service keeps it under its
// lock.
#pragma once

#include <cstdint>
#include <map>
#include <string>

class TokenStore {
 public:
  // `prefix` begins every token ("svc-", "gw-").
  explicit TokenStore(std::string prefix) : prefix_(std::move(prefix)) {}

  // A new token valid for `lifetimeSeconds` from `nowMillis`, its expiry rounded down to a
  // whole second (as clients read expiry times).
  std::string issue(int64_t nowMillis, int64_t lifetimeSeconds);

  // The expiry (milliseconds) of `token`; 0 when it is unknown.
  int64_t expiryOf(const std::string& token) const;

  // "" when `authorization` carries `scheme` and a known, unexpired token; otherwise
  // "token missing", "token unknown" or "token expired".
  std::string check(const std::string& authorization, const char* scheme, int64_t nowMillis) const;

  size_t size() const { return expiry_.size(); }
  void clear();

 private:
  std::string prefix_;
  std::map<std::string, int64_t> expiry_;
  std::multimap<int64_t, std::string> byExpiry_;  // the same, soonest first
};
