// Feeds arbitrary URLs and query parameters to the signer's text helpers.
#include <cstdint>
#include <string>

#include "credentials/gateway_signer.h"
#include "transport/http_exchange.h"
#include "util/base64.h"
#include "util/masking.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  // The input is "url \x01 name=value \x01 name=value ...".
  size_t cut = input.find('\x01');
  const std::string url = input.substr(0, cut);
  QueryMap query;
  while (cut != std::string::npos) {
    size_t next = input.find('\x01', cut + 1);
    std::string pair = input.substr(cut + 1, next == std::string::npos ? next : next - cut - 1);
    size_t eq = pair.find('=');
    query[pair.substr(0, eq)] = eq == std::string::npos ? std::string() : pair.substr(eq + 1);
    cut = next;
  }
  std::string path = extractUrlPath(url);
  if (!path.empty() && (path[0] != '/' || path.find_first_of("?#") != std::string::npos)) {
    __builtin_trap();
  }
  std::string pathAndQuery = buildPathAndQuery(path, query);
  if (pathAndQuery.compare(0, path.size(), path) != 0) __builtin_trap();
  std::string masked = maskCredentials(url);
  const bool secret =
      url.find("credential=") != std::string::npos || url.find('@') != std::string::npos;
  if (!secret && masked != url) __builtin_trap();
  HeaderMap headers = {{"x-ca-key", url}, {"x-ca-nonce", path}, {"other", pathAndQuery}};
  buildCanonicalHeaders(headers);
  base64Encode(hmacSign(url, pathAndQuery));
  return 0;
}
