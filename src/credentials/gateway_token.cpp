// The gateway token, by the OAuth2 client-credentials grant. It authorises only the
// project lookup and is never kept; the token request itself is never signed.
#include <rapidjson/document.h>

#include "credentials/gateway_token.h"
#include "run/translate_job.h"
#include "transport/http_exchange.h"
#include "transport/json_parse.h"

std::string TranslateJob::getGatewayToken() const {
  const std::string url = accountUrl + gatewayTokenUrl;
  // The gateway reads the form fields as they are; they are not percent-encoded.
  const std::string body =
      "grant_type=client_credentials&client_id=" + appKey + "&client_secret=" + appSecret;

  HttpRequest request;
  if (!request.valid()) return std::string();
  // No header list: libcurl's form content type and length go out with the body.
  curl_easy_setopt(request.handle(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(request.handle(), CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(request.handle(), CURLOPT_CUSTOMREQUEST, "POST");
  request.setCallbackOptions();
  if (!request.perform(url)) return std::string();
  request.printBlocks("getGatewayToken");
  return gatewayTokenFromAnswer(request.body());
}

std::string gatewayTokenFromAnswer(const std::string& answer) {
  LocalJson json;
  const rapidjson::Document& doc = json.doc();
  std::string token;
  if (!json.parse(answer, true) || !doc.IsObject()) return std::string();
  if (!getLocalStringMember(doc, "access_token", token)) return std::string();
  // The token goes into a header line; a line break in it would start a header of the
  // answerer's choosing, so such a token is unusable.
  if (token.find_first_of("\r\n") != std::string::npos) return std::string();
  return token;
}
