// The organisation's project id, looked up through the gateway.
#include "credentials/project_lookup.h"

#include <rapidjson/document.h>

#include "answers/console_blocks.h"
#include "credentials/gateway_signer.h"
#include "credentials/gateway_token.h"
#include "transport/http_exchange.h"
#include "transport/local_json.h"
#include "util/json.h"
#include "util/log.h"

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

// The name of the first setting the lookup needs that `lookup` lacks; nullptr when none.
const char* missingInput(const ProjectLookup& lookup) {
  if (lookup.orgId.empty()) return "orgid";
  if (lookup.accountUrl.empty()) return "accounturl";
  if (lookup.gatewayTokenUrl.empty()) return "gatewaytokenurl";
  if (lookup.projectUrl.empty()) return "projecturl";
  return nullptr;
}

// findProjectId's lookup, without the known id: empty, with the reason in `reason`, when it
// yields no id.
std::string lookUpProjectId(const ProjectLookup& lookup, const GatewayIdentity& identity,
                            std::string& reason) {
  if (const char* missing = missingInput(lookup)) {
    reason = std::string(missing) + " is empty";
    return std::string();
  }
  std::string tokenReason;
  const std::string gatewayToken = fetchGatewayToken(
      lookup.accountUrl + lookup.gatewayTokenUrl, identity.appKey, identity.appSecret, tokenReason);
  HttpRequest request("getMarluneAccessToken", "GET", projectListUrl(lookup));
  request.name = "lookupProjectId";
  request.timeLimitSeconds = kRequestTimeLimitSeconds;
  request.assumeHttps = true;
  request.headerLines = jsonHeaderLines("bearer " + gatewayToken);
  // The gateway signs the query it expects; the URL keeps whatever query was configured.
  signForGateway(identity, request.url, request.method, {{"includeExtendData", "false"}},
                 request.headerLines);

  HttpAnswer answer;
  std::string id;
  if (performAndPrint(request, answer, reason)) id = projectIdFromAnswer(answer.body, reason);
  // Without a gateway token the lookup could not succeed: the token's reason is the first.
  if (gatewayToken.empty()) reason = tokenReason;
  return id;
}

}  // namespace

std::string projectListUrl(const ProjectLookup& lookup) {
  return replaceOrgId(lookup.accountUrl + lookup.projectUrl, lookup.orgId);
}

std::string findProjectId(const ProjectLookup& lookup, const GatewayIdentity& identity) {
  if (!identity.projectId.empty()) return identity.projectId;
  std::string reason;
  const std::string id = lookUpProjectId(lookup, identity, reason);
  if (id.empty() && identity.gatewayMode()) {
    MLOG(ERROR, kNoProjectId) << "project lookup found no project id: " << reason;
  }
  return id;
}

std::string projectIdFromAnswer(const std::string& answer, std::string& reason) {
  LocalJson json;
  const rapidjson::Document& doc = json.doc();
  std::string lack;
  const rapidjson::Value* project = nullptr;
  const rapidjson::Value* id = nullptr;
  if (!json.parse(answer, true) || !doc.IsObject()) {
    lack = "is not a JSON object";
  } else if ((project = findMember(doc, "project")) == nullptr || !project->IsObject()) {
    lack = "has no \"project\" object";
  } else if ((id = findMember(*project, "id")) == nullptr || !id->IsUint64()) {
    lack = "has no \"project\".\"id\" from 0 to 18446744073709551615";
  } else {
    return std::to_string(id->GetUint64());
  }
  const std::string notes = loggableMembers(doc, {"code", "message"});
  reason = "the project list answer " + lack + (notes.empty() ? "" : " (" + notes + ")");
  return std::string();
}
