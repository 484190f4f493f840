// The emulated paths.
#include "service/routes.h"

#include "service/emulator_request.h"

namespace {

const char kServiceTokenPath[] = "/oauth2/token";
const char kTranslatePath[] = "/v2/translate";
const char kStatusPath[] = "/translate";
const char kGatewayTokenPath[] = "/api/uaa/oauth/token";
const char kOrgPrefix[] = "/api/org-permission/v4/orgs/";
const char kProjectsSuffix[] = "/projects";
const char kAdminPrefix[] = "/__emulator/";

}  // namespace

Route routeOf(const std::string& path) {
  if (path == kServiceTokenPath) return {Endpoint::kServiceToken, "POST", ""};
  if (path == kTranslatePath) return {Endpoint::kTranslate, "PUT", ""};
  if (path == kStatusPath) return {Endpoint::kStatus, "GET", ""};
  if (path == kGatewayTokenPath) return {Endpoint::kGatewayToken, "POST", ""};
  const std::string prefix = kOrgPrefix;
  const std::string suffix = kProjectsSuffix;
  if (path.size() > prefix.size() + suffix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
      path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
    std::string org = path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
    if (org.find('/') == std::string::npos) return {Endpoint::kProjects, "GET", org};
  }
  return {};
}

const char* endpointName(Endpoint endpoint) {
  switch (endpoint) {
    case Endpoint::kServiceToken:
      return "token";
    case Endpoint::kTranslate:
      return "translate";
    case Endpoint::kStatus:
      return "status";
    case Endpoint::kGatewayToken:
      return "gatewaytoken";
    case Endpoint::kProjects:
      return "projects";
    case Endpoint::kNone:
      break;
  }
  return "";
}

RequestFile fileOf(const Route& route, const RecordedRequest& request) {
  RequestFile file;
  if (route.endpoint == Endpoint::kTranslate) file.known = commitFileId(request.body, file.id);
  if (route.endpoint == Endpoint::kStatus) file.known = statusFileId(request.query(), file.id);
  return file;
}

bool isAdminPath(const std::string& path) {
  return path.compare(0, sizeof kAdminPrefix - 1, kAdminPrefix) == 0;
}
