// The organisation's project id, looked up through the gateway while the configuration
// loads. Signed requests later send it as "x-project-id".
#include <rapidjson/document.h>

#include "credentials/gateway_signer.h"
#include "credentials/project_lookup.h"
#include "run/translate_job.h"
#include "transport/http_exchange.h"
#include "transport/json_parse.h"

namespace {

const char kOrgPlaceholder[] = "{org-id}";

// `text` with every placeholder replaced by `value`; inserted text is not searched again.
std::string replaceOrgId(std::string text, const std::string& value) {
  const size_t length = sizeof(kOrgPlaceholder) - 1;
  size_t pos = text.find(kOrgPlaceholder);
  while (pos != std::string::npos) {
    text.replace(pos, length, value);
    pos = text.find(kOrgPlaceholder, pos + value.size());
  }
  return text;
}

}  // namespace

std::string TranslateJob::lookupProjectId() const {
  if (!projectId.empty()) return projectId;
  if (orgId.empty() || accountUrl.empty() || gatewayTokenUrl.empty() || projectUrl.empty()) {
    return std::string();
  }
  const std::string authorization = "Authorization:bearer " + getGatewayToken();
  const std::string url = replaceOrgId(accountUrl + projectUrl, orgId);
  // The gateway signs the query it expects; the URL keeps whatever query was configured.
  const QueryMap query = {{"includeExtendData", "false"}};
  const std::string method = "GET";

  HttpRequest request;
  if (!request.valid()) return std::string();
  curl_easy_setopt(request.handle(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(request.handle(), CURLOPT_TIMEOUT, kRequestTimeLimitSeconds);
  curl_easy_setopt(request.handle(), CURLOPT_CUSTOMREQUEST, method.c_str());
  curl_easy_setopt(request.handle(), CURLOPT_DEFAULT_PROTOCOL, "https");
  request.headers().append(authorization);
  request.headers().append("Content-Type: application/json");
  request.setHeaderOption();
  if (!tenantId.empty()) {
    addGatewayHeaders(*this, url, method, query, request.headers());
    request.setHeaderOption();
  }
  request.setCallbackOptions();
  if (!request.perform(url)) return std::string();
  request.printBlocks("getMarluneAccessToken");
  return projectIdFromAnswer(request.body());
}

std::string projectIdFromAnswer(const std::string& answer) {
  LocalJson json;
  const rapidjson::Document& doc = json.doc();
  if (!json.parse(answer, true) || !doc.IsObject()) return std::string();
  const rapidjson::Value* project = findMember(doc, "project");
  if (project == nullptr || !project->IsObject()) return std::string();
  const rapidjson::Value* id = findMember(*project, "id");
  if (id == nullptr || !id->IsUint64()) return std::string();
  return std::to_string(id->GetUint64());
}
