// The gateway token, by the OAuth2 client-credentials grant.
#include "credentials/gateway_token.h"

#include <rapidjson/document.h>

#include "credentials/console_blocks.h"
#include "transport/http_exchange.h"
#include "transport/local_json.h"

std::string fetchGatewayToken(const std::string& url, const std::string& clientId,
                              const std::string& clientSecret) {
  HttpRequest request("getGatewayToken", "POST", url);
  // The gateway reads the form fields as they are; they are not percent-encoded.
  request.body =
      "grant_type=client_credentials&client_id=" + clientId + "&client_secret=" + clientSecret;
  HttpAnswer answer;
  return performAndPrint(request, answer) ? gatewayTokenFromAnswer(answer.body) : std::string();
}

std::string gatewayTokenFromAnswer(const std::string& answer) {
  LocalJson json;
  const rapidjson::Document& doc = json.doc();
  std::string token;
  if (!json.parse(answer, true)) return std::string();
  getHeaderSafeStringMember(doc, "access_token", token);
  return token;
}
