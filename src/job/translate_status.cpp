// Querying the job's status and waiting for its end.
#include <rapidjson/document.h>

#include <iostream>

#include "credentials/gateway_signer.h"
#include "platform/platform.h"
#include "run/translate_job.h"
#include "transport/http_exchange.h"
#include "transport/json_parse.h"

namespace {

const unsigned kPollPauseMs = 5000;

// Whole seconds since `start`; a clock set back counts as no time passed.
uint64_t secondsSince(int64_t start) {
  int64_t elapsed = (platform::nowTicks() - start) / platform::kTicksPerSecond;
  return elapsed < 0 ? 0 : static_cast<uint64_t>(elapsed);
}

}  // namespace

int TranslateJob::getTranslateStatus() {
  const std::string url = statusUrl + "?fileId=" + fileId;
  const std::string authorization = "Authorization:Bearer " + getMarluneAccessToken();
  const std::string method = "GET";
  QueryMap query;
  query["fileId"] = fileId;

  HttpRequest request;
  if (!request.valid()) return kStatusFailed;
  CURL* handle = request.handle();
  curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, method.c_str());
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  request.setFollowRedirects();
  curl_easy_setopt(handle, CURLOPT_DEFAULT_PROTOCOL, "https");
  request.headers().append(authorization);
  request.headers().append("Content-Type: application/json");
  if (!tenantId.empty()) addGatewayHeaders(*this, url, method, query, request.headers());
  request.setHeaderOption();
  request.setCallbackOptions();
  if (!request.perform(url)) return kStatusFailed;

  int outcome = parseTranslateStatus(request.body());
  if (outcome == kStatusFailed) request.printBlocks("getTranslateStatus");
  return outcome;
}

int TranslateJob::parseTranslateStatus(const std::string& answer) {
  if (answer.empty()) return kStatusFailed;
  LocalJson json;
  const rapidjson::Document& doc = json.doc();
  if (!json.parse(answer) || !doc.IsObject()) {
    std::cout << '*';
    return kStatusFailed;
  }
  const rapidjson::Value* code = findMember(doc, "code");
  if (code != nullptr && code->IsInt()) {
    getLocalStringMember(doc, "message", message);
    return kStatusFailed;
  }
  std::string verdict;
  std::string status;
  const rapidjson::Value* data = findMember(doc, "data");
  if (getStringMember(doc, "code", verdict) && verdict == "success" && data != nullptr &&
      getStringMember(*data, "status", status)) {
    if (status == "processing") {
      std::cout << '+';
      return kStatusProcessing;
    }
    if (status == "success") return kStatusFinished;
  }
  getLocalStringMember(doc, "message", message);
  std::cout << '*';
  return kStatusFailed;
}

bool TranslateJob::waitForTranslate() {
  const int64_t start = platform::nowTicks();
  int outcome = kStatusFailed;
  for (;;) {
    platform::sleepMillis(kPollPauseMs);
    outcome = getTranslateStatus();
    if (secondsSince(start) > overtime) {
      message = "overtime!";
      return false;
    }
    if (outcome != kStatusProcessing) break;
  }
  return outcome == kStatusFinished;
}
