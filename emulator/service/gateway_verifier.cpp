// Gateway checks, written from the gateway's signing rules.
#include "service/gateway_verifier.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <map>
#include <vector>

#include "util/ascii.h"

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

bool GatewayVerifier::carriesGatewayHeaders(const RecordedRequest& request) {
  for (const std::string& line : request.headers) {
    std::string name = toLowerAscii(line.substr(0, line.find(':')));
    if (name.rfind("x-ca-", 0) == 0 || name == "x-tenant-id" || name == "x-project-id") {
      return true;
    }
  }
  return false;
}

// The gateway signs: the method and a line feed; for each header named in
// "x-ca-signature-headers", in byte-wise order of the names, the name in lower case, ":",
// the value and a line feed; then the path and, when the request has query parameters,
// "?" and the parameters in byte-wise order of their names as "name=value", or the bare
// name for an empty value, joined by "&". Nothing is decoded.
std::string GatewayVerifier::rebuildStringToSign(const RecordedRequest& request) {
  std::map<std::string, std::string> signedHeaders;
  for (const std::string& name : splitList(request.header("x-ca-signature-headers"))) {
    if (!request.hasHeader(name)) return std::string();
    signedHeaders[name] = request.header(name);
  }
  for (const char* name : kSignedNames) {
    if (signedHeaders.count(name) == 0) return std::string();
  }
  std::string text = request.method + "\n";
  for (const auto& entry : signedHeaders) {
    text += toLowerAscii(entry.first) + ":" + entry.second + "\n";
  }
  text += request.path();
  const ParameterMap parameters = parseRawParameters(request.query());
  char separator = '?';
  for (const auto& parameter : parameters) {
    text += separator + parameter.first;
    if (!parameter.second.empty()) text += "=" + parameter.second;
    separator = '&';
  }
  return text;
}

std::string GatewayVerifier::signature(const std::string& secret, const std::string& stringToSign) {
  unsigned char mac[EVP_MAX_MD_SIZE];
  size_t length = 0;
  if (EVP_Q_mac(nullptr, "HMAC", nullptr, "SHA256", nullptr, secret.data(), secret.size(),
                reinterpret_cast<const unsigned char*>(stringToSign.data()), stringToSign.size(),
                mac, sizeof(mac), &length) == nullptr) {
    return std::string();
  }
  return encodeBase64(std::string(reinterpret_cast<const char*>(mac), length));
}

std::string GatewayVerifier::verify(const RecordedRequest& request, int64_t nowMillis,
                                    const std::string& projectId, bool projectRequired) {
  // A missing project is told last: a request that fails a check before it would fail
  // for that reason whatever project it named.
  for (const char* name : {"x-ca-key", "x-ca-nonce", "x-ca-signature", "x-ca-signature-headers",
                           "x-ca-timestamp", "x-tenant-id"}) {
    if (request.header(name).empty()) return std::string(name) + " missing";
  }
  if (request.header("x-ca-key") != appKey_) return "x-ca-key unknown";
  std::string timestampProblem = checkTimestamp(request.header("x-ca-timestamp"), nowMillis);
  if (!timestampProblem.empty()) return timestampProblem;

  std::string toSign = rebuildStringToSign(request);
  if (toSign.empty()) return "x-ca-signature-headers incomplete";
  std::string expected = signature(appSecret_, toSign);
  if (expected.empty() || !equalInConstantTime(expected, request.header("x-ca-signature"))) {
    return "x-ca-signature mismatch";
  }

  forgetOldNonces(nowMillis);
  std::string nonce = request.header("x-ca-nonce");
  if (nonces_.count(nonce) != 0) return "x-ca-nonce replayed";
  const int64_t timestamp = std::strtoll(request.header("x-ca-timestamp").c_str(), nullptr, 10);
  nonces_[nonce] = timestamp;
  byTime_.emplace(timestamp, nonce);

  if (!tenant_.empty() && request.header("x-tenant-id") != tenant_) return "x-tenant-id mismatch";
  if (request.header("x-project-id").empty()) {
    return projectRequired ? "x-project-id missing" : std::string();
  }
  if (request.header("x-project-id") != projectId) return "x-project-id mismatch";
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
// fails the timestamp check from then on. Oldest first, so a request costs what it frees.
void GatewayVerifier::forgetOldNonces(int64_t nowMillis) {
  while (!byTime_.empty() && nowMillis - byTime_.begin()->first > kTimestampWindowMillis) {
    nonces_.erase(byTime_.begin()->second);
    byTime_.erase(byTime_.begin());
  }
}
