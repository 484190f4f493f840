// The gateway token, by the OAuth2 client-credentials grant.
#include "credentials/gateway_token.h"

#include <rapidjson/document.h>

#include "answers/console_blocks.h"
#include "transport/http_exchange.h"
#include "transport/local_json.h"

std::string fetchGatewayToken(const std::string& url, const std::string& clientId,
                              const std::string& clientSecret, std::string& reason) {
  HttpRequest request("getGatewayToken", "POST", url);
  // The gateway reads the form fields as they are; they are not percent-encoded.
  request.body =
      "grant_type=client_credentials&client_id=" + clientId + "&client_secret=" + clientSecret;
  HttpAnswer answer;
  return performAndPrint(request, answer, reason) ? gatewayTokenFromAnswer(answer.body, reason)
                                                  : std::string();
}

std::string gatewayTokenFromAnswer(const std::string& answer, std::string& reason) {
  LocalJson json;
  const rapidjson::Document& doc = json.doc();
  std::string token;
  if (!json.parse(answer, true) || !doc.IsObject()) {
    reason = "the gateway token answer is not a JSON object";
    return std::string();
  }
  getHeaderSafeStringMember(doc, "access_token", token);
  if (token.empty()) {
    const std::string refusal = loggableMembers(doc, {"error", "error_description"});
    reason = refusal.empty() ? "the gateway token answer has no usable \"access_token\""
                             : "the gateway token was refused (" + refusal + ")";
  }
  return token;
}
