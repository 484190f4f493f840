// Submitting the translate request.
#include "job/translate_commit.h"

#include <rapidjson/document.h>

#include <utility>

#include "answers/console_blocks.h"
#include "job/service_request.h"
#include "transport/local_json.h"
#include "util/ascii.h"
#include "util/json.h"

bool submitTranslate(const std::string& translateUrl, const std::string& requestBody,
                     const std::string& token, const GatewayIdentity& identity,
                     std::string& message) {
  HttpRequest request =
      serviceRequest("commitTranslate", "PUT", translateUrl, token, identity, QueryMap());
  request.body = requestBody;
  HttpAnswer answer;
  if (!performAndPrint(request, answer, message)) return false;
  return readCommitAnswer(std::move(answer.body), message);
}

bool readCommitAnswer(std::string answer, std::string& message) {
  LocalJson json;
  const rapidjson::Document& doc = json.doc();
  if (!json.parse(std::move(answer)) || !doc.IsObject()) return false;
  std::string code;
  const bool accepted = getStringMember(doc, "code", code) && equalsIgnoreCase(code, "success");
  json.takeLocalStringMember("message", message);
  return accepted;
}
