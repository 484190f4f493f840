// Signed headers for the API gateway. The gateway rebuilds the string to sign from what
// it receives and compares HMAC-SHA256 signatures, so every byte here is part of the contract.
#include "credentials/gateway_signer.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <memory>

#include "platform/platform.h"
#include "util/ascii.h"
#include "util/base64.h"

namespace {

const char kSignedPrefix[] = "x-ca-";
const char kSignatureHeaders[] = "x-ca-signature-headers";

struct MacFree {
  void operator()(EVP_MAC* mac) const { EVP_MAC_free(mac); }
};
struct MacCtxFree {
  void operator()(EVP_MAC_CTX* ctx) const { EVP_MAC_CTX_free(ctx); }
};
bool startsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// Milliseconds since 1970 as decimal text.
std::string makeTimestamp() { return std::to_string(platform::nowTicks() / 10000); }

}  // namespace

void signForGateway(const GatewayIdentity& identity, const std::string& url,
                    const std::string& method, const QueryMap& query,
                    std::vector<std::string>& headerLines) {
  if (!identity.gatewayMode()) return;
  addGatewayHeaders(identity, url, method, query, headerLines);
}

void addGatewayHeaders(const GatewayIdentity& identity, const std::string& url, std::string method,
                       const QueryMap& query, std::vector<std::string>& headerLines,
                       const std::string& nonce) {
  HeaderMap signedHeaders;
  signedHeaders["x-ca-key"] = identity.appKey;
  signedHeaders["x-ca-timestamp"] = makeTimestamp();
  signedHeaders["x-ca-nonce"] = nonce;
  std::string canonical = buildCanonicalHeaders(signedHeaders);
  std::string pathAndQuery = buildPathAndQuery(extractUrlPath(url), query);
  std::string toSign = buildStringToSign(method, canonical, pathAndQuery);

  signedHeaders["x-ca-signature"] = base64Encode(hmacSign(identity.appSecret, toSign));
  signedHeaders["x-project-id"] = identity.projectId;
  signedHeaders["x-tenant-id"] = identity.tenantId;
  for (const auto& entry : signedHeaders) headerLines.push_back(entry.first + ":" + entry.second);
}

std::string buildCanonicalHeaders(HeaderMap& headers) {
  const HeaderMap snapshot = headers;
  std::string text;
  std::string names;
  for (const auto& entry : snapshot) {
    if (!startsWith(entry.first, kSignedPrefix)) continue;
    text += toLowerAscii(entry.first) + ":" + entry.second + "\n";
    if (!names.empty()) names += ",";
    names += entry.first;
  }
  if (!names.empty()) headers[kSignatureHeaders] = names;
  return text;
}

std::string extractUrlPath(const std::string& url) {
  size_t slashes = url.find("//");
  if (slashes == std::string::npos) return std::string();
  size_t start = url.find('/', slashes + 2);
  if (start == std::string::npos) return std::string();
  size_t end = url.find_first_of("?#", start);
  return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string buildPathAndQuery(const std::string& path, const QueryMap& query) {
  std::string result = path.substr(0, path.find('?'));
  std::string written;
  for (const auto& entry : query) {
    written += "&" + entry.first;
    if (!entry.second.empty()) written += "=" + entry.second;
  }
  if (written.empty()) return result;
  return result + "?" + written.substr(1);
}

std::string hmacSign(const std::string& key, const std::string& data) {
  std::unique_ptr<EVP_MAC, MacFree> mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
  if (!mac) return std::string();
  std::unique_ptr<EVP_MAC_CTX, MacCtxFree> ctx(EVP_MAC_CTX_new(mac.get()));
  if (!ctx) return std::string();
  char digest[] = "SHA256";
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
      OSSL_PARAM_construct_end(),
  };
  // data() is never null, so an empty secret still sets a zero-length key.
  const unsigned char* keyBytes = reinterpret_cast<const unsigned char*>(key.data());
  if (EVP_MAC_init(ctx.get(), keyBytes, key.size(), params) != 1) return std::string();
  if (EVP_MAC_update(ctx.get(), reinterpret_cast<const unsigned char*>(data.data()), data.size()) !=
      1) {
    return std::string();
  }
  unsigned char out[EVP_MAX_MD_SIZE];
  size_t length = 0;
  if (EVP_MAC_final(ctx.get(), out, &length, sizeof(out)) != 1) return std::string();
  return std::string(reinterpret_cast<const char*>(out), length);
}

std::string makeNonce() { return platform::makeUuid(); }

std::string buildStringToSign(const std::string& method, const std::string& canonicalHeaders,
                              const std::string& pathAndQuery) {
  return method + "\n" + canonicalHeaders + pathAndQuery;
}
