// URLs read as libcurl reads them.
#include "transport/url_scheme.h"

#include <curl/curl.h>

#include <memory>

#include "util/ascii.h"

namespace {

struct UrlCloser {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

struct PartFreer {
  void operator()(char* part) const { curl_free(part); }
};

}  // namespace

bool readUrlScheme(const std::string& url, bool assumeHttps, UrlScheme& scheme,
                   std::string& reason) {
  std::unique_ptr<CURLU, UrlCloser> parsed(curl_url());
  if (!parsed) {
    reason = curl_url_strerror(CURLUE_OUT_OF_MEMORY);
    return false;
  }
  // Schemes libcurl cannot request are read too, so that they can be named as such.
  const unsigned int flags =
      CURLU_NON_SUPPORT_SCHEME | (assumeHttps ? CURLU_DEFAULT_SCHEME : CURLU_GUESS_SCHEME);
  CURLUcode result = curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), flags);
  char* raw = nullptr;
  if (result == CURLUE_OK) result = curl_url_get(parsed.get(), CURLUPART_SCHEME, &raw, 0);
  std::unique_ptr<char, PartFreer> name(raw);
  if (result != CURLUE_OK) {
    reason = curl_url_strerror(result);
    return false;
  }
  scheme.name = toLowerAscii(name.get());
  const std::string written = url.substr(0, scheme.name.size() + 1);
  scheme.named = equalsIgnoreCase(written, scheme.name + ":");
  return true;
}

bool isHttpScheme(const std::string& scheme) { return scheme == "http" || scheme == "https"; }
