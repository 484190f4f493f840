// The API gateway's checks of a signed request: the seven header lines, the key, the
// timestamp window, the signature rebuilt from the request, the nonce, tenant and project.
// The signature is recomputed here from the gateway's rules with code of the emulator's
// own, so a fault in the client's signer cannot hide behind the same fault in the check.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "service/emulator_request.h"

class GatewayVerifier {
 public:
  static constexpr int64_t kTimestampWindowMillis = 15 * 60 * 1000;

  // `tenant` empty: any non-empty "x-tenant-id" is accepted.
  GatewayVerifier(std::string appKey, std::string appSecret, std::string tenant);

  // "" when `request` passes every check, otherwise the check that failed, such as
  // "x-ca-nonce replayed". "x-project-id" must equal `projectId` when sent, and must be
  // sent when `projectRequired`, which is checked last. A request whose signature is right
  // uses up its nonce.
  // Not thread-safe.
  std::string verify(const RecordedRequest& request, int64_t nowMillis,
                     const std::string& projectId, bool projectRequired);

  // How many nonces are remembered: those used with a timestamp still within the window.
  size_t rememberedNonces() const { return nonces_.size(); }

  // True when `request` carries any "x-ca-" line, "x-tenant-id" or "x-project-id".
  static bool carriesGatewayHeaders(const RecordedRequest& request);

  // The string to sign for `request`, rebuilt from its method, the headers named in its
  // "x-ca-signature-headers", its path and its raw query; "" when that list does not name
  // "x-ca-key", "x-ca-nonce" and "x-ca-timestamp" or names a header the request lacks.
  static std::string rebuildStringToSign(const RecordedRequest& request);

  // Base64 of the HMAC-SHA256 of `stringToSign` keyed with `secret`.
  static std::string signature(const std::string& secret, const std::string& stringToSign);

 private:
  std::string checkTimestamp(const std::string& text, int64_t nowMillis) const;
  void forgetOldNonces(int64_t nowMillis);

  std::string appKey_;
  std::string appSecret_;
  std::string tenant_;
  std::map<std::string, int64_t> nonces_;       // nonce -> the timestamp it came with
  std::multimap<int64_t, std::string> byTime_;  // the same, oldest timestamp first
};
