// The organisation's project id, looked up through the gateway.
#include "credentials/project_lookup.h"

#include <rapidjson/document.h>

#include "credentials/console_blocks.h"
#include "credentials/gateway_signer.h"
#include "credentials/gateway_token.h"
#include "transport/http_exchange.h"
#include "transport/local_json.h"
#include "util/json.h"

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

std::string projectListUrl(const ProjectLookup& lookup) {
  return replaceOrgId(lookup.accountUrl + lookup.projectUrl, lookup.orgId);
}

std::string findProjectId(const ProjectLookup& lookup, const GatewayIdentity& identity) {
  if (!identity.projectId.empty()) return identity.projectId;
  if (lookup.orgId.empty() || lookup.accountUrl.empty() || lookup.gatewayTokenUrl.empty() ||
      lookup.projectUrl.empty()) {
    return std::string();
  }
  const std::string gatewayToken = fetchGatewayToken(lookup.accountUrl + lookup.gatewayTokenUrl,
                                                     identity.appKey, identity.appSecret);
  HttpRequest request("getMarluneAccessToken", "GET", projectListUrl(lookup));
  request.name = "lookupProjectId";
  request.timeLimitSeconds = kRequestTimeLimitSeconds;
  request.assumeHttps = true;
  request.headerLines = jsonHeaderLines("bearer " + gatewayToken);
  // The gateway signs the query it expects; the URL keeps whatever query was configured.
  signForGateway(identity, request.url, request.method, {{"includeExtendData", "false"}},
                 request.headerLines);

  HttpAnswer answer;
  return performAndPrint(request, answer) ? projectIdFromAnswer(answer.body) : std::string();
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
