// Gateway checks. The signature is rebuilt with the client's own signing primitives, so
// the emulator and the client cannot drift apart on what "the string to sign" is.
#include "gateway_verifier.h"

#include <openssl/crypto.h>

#include <cstdlib>
#include <vector>

namespace {

const char* const kSignedNames[] = {"x-ca-key", "x-ca-nonce", "x-ca-timestamp"};

bool equalInConstantTime(const std::string& a, const std::string& b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::vector<std::string> splitList(const std::string& text) {
  std::vector<std::string> items;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    items.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return items;
}

}  // namespace

GatewayVerifier::GatewayVerifier(std::string appKey, std::string appSecret, std::string tenant)
    : appKey_(std::move(appKey)), appSecret_(std::move(appSecret)), tenant_(std::move(tenant)) {}

bool GatewayVerifier::carriesGatewayHeaders(const EmulatorRequest& request) {
  for (const auto& line : request.headers) {
    std::string name;
    for (char c : line.first) name += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (name.rfind("x-ca-", 0) == 0 || name == "x-tenant-id" || name == "x-project-id") {
      return true;
    }
  }
  return false;
}

std::string GatewayVerifier::rebuildStringToSign(const EmulatorRequest& request) {
  HeaderMap signedHeaders;
  for (const std::string& name : splitList(request.header("x-ca-signature-headers"))) {
    if (!request.hasHeader(name)) return std::string();
    signedHeaders[name] = request.header(name);
  }
  for (const char* name : kSignedNames) {
    if (signedHeaders.count(name) == 0) return std::string();
  }
  std::string canonical = buildCanonicalHeaders(signedHeaders);
  std::string pathAndQuery = buildPathAndQuery(request.path(), parseRawParameters(request.query()));
  return buildStringToSign(request.method, canonical, pathAndQuery);
}

std::string GatewayVerifier::verify(const EmulatorRequest& request, int64_t nowMillis,
                                    const std::string& projectId, bool projectRequired) {
  for (const char* name : {"x-ca-key", "x-ca-nonce", "x-ca-signature", "x-ca-signature-headers",
                           "x-ca-timestamp", "x-project-id", "x-tenant-id"}) {
    if (!projectRequired && std::string(name) == "x-project-id") continue;
    if (request.header(name).empty()) return std::string(name) + " missing";
  }
  if (request.header("x-ca-key") != appKey_) return "x-ca-key unknown";
  std::string timestampProblem = checkTimestamp(request.header("x-ca-timestamp"), nowMillis);
  if (!timestampProblem.empty()) return timestampProblem;

  std::string toSign = rebuildStringToSign(request);
  if (toSign.empty()) return "x-ca-signature-headers incomplete";
  std::string expected = base64Encode(hmacSign(appSecret_, toSign));
  if (!equalInConstantTime(expected, request.header("x-ca-signature"))) {
    return "x-ca-signature mismatch";
  }

  forgetOldNonces(nowMillis);
  std::string nonce = request.header("x-ca-nonce");
  if (nonces_.count(nonce) != 0) return "x-ca-nonce replayed";
  nonces_[nonce] = std::strtoll(request.header("x-ca-timestamp").c_str(), nullptr, 10);

  if (!tenant_.empty() && request.header("x-tenant-id") != tenant_) return "x-tenant-id mismatch";
  if (request.hasHeader("x-project-id") && request.header("x-project-id") != projectId) {
    return "x-project-id mismatch";
  }
  return std::string();
}

std::string GatewayVerifier::checkTimestamp(const std::string& text, int64_t nowMillis) const {
  if (text.size() > 18) return "x-ca-timestamp malformed";
  for (char c : text) {
    if (c < '0' || c > '9') return "x-ca-timestamp malformed";
  }
  int64_t timestamp = std::strtoll(text.c_str(), nullptr, 10);
  int64_t distance = timestamp > nowMillis ? timestamp - nowMillis : nowMillis - timestamp;
  if (distance > kTimestampWindowMillis) return "x-ca-timestamp outside 15 minutes";
  return std::string();
}

// A nonce can be forgotten once its timestamp has left the window: a replay of it
// fails the timestamp check from then on.
void GatewayVerifier::forgetOldNonces(int64_t nowMillis) {
  for (auto it = nonces_.begin(); it != nonces_.end();) {
    if (nowMillis - it->second > kTimestampWindowMillis) {
      it = nonces_.erase(it);
    } else {
      ++it;
    }
  }
}
