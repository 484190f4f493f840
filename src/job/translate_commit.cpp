// Submitting the translate request.
#include <rapidjson/document.h>

#include "credentials/gateway_signer.h"
#include "platform/platform.h"
#include "run/translate_job.h"
#include "transport/http_exchange.h"
#include "transport/json_parse.h"

namespace {}  // namespace

bool TranslateJob::commitTranslate() {
  const std::string body = requestBody;  // must outlive the transfer: libcurl does not copy it
  const std::string authorization = "Authorization:Bearer " + getMarluneAccessToken();
  const QueryMap query;
  const std::string method = "PUT";

  HttpRequest request;
  if (!request.valid()) return false;
  CURL* handle = request.handle();
  curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, method.c_str());
  curl_easy_setopt(handle, CURLOPT_URL, translateUrl.c_str());
  request.setFollowRedirects();
  curl_easy_setopt(handle, CURLOPT_DEFAULT_PROTOCOL, "https");
  request.headers().append(authorization);
  request.headers().append("Content-Type: application/json");
  if (!tenantId.empty()) addGatewayHeaders(*this, translateUrl, method, query, request.headers());
  request.setHeaderOption();
  curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.c_str());
  request.setCallbackOptions();
  if (!request.perform(translateUrl)) return false;
  request.printBlocks("commitTranslate");
  return readCommitAnswer(request.body());
}

bool TranslateJob::readCommitAnswer(const std::string& answer) {
  LocalJson json;
  const rapidjson::Document& doc = json.doc();
  if (!json.parse(answer) || !doc.IsObject()) return false;
  std::string code;
  const bool accepted =
      getStringMember(doc, "code", code) && platform::equalsIgnoreCase(code, "success");
  getLocalStringMember(doc, "message", message);
  return accepted;
}
