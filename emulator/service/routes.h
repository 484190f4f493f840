// Which endpoint a request path names, and the method it takes there: the service's token,
// translate and status paths and the gateway's token and organisation paths, at the client's
// default paths.
#pragma once

#include <string>

enum class Endpoint { kServiceToken, kTranslate, kStatus, kGatewayToken, kProjects, kNone };

struct Route {
  Endpoint endpoint = Endpoint::kNone;
  const char* method = "";
  std::string org;  // for kProjects
};

// The route of `path` (the target without its query); kNone for any other path.
Route routeOf(const std::string& path);

// The endpoint's name in scenarios: "token", "translate", "status", "gatewaytoken",
// "projects"; "" for kNone.
const char* endpointName(Endpoint endpoint);

// True when `path` lies under the admin interface, /__emulator/.
bool isAdminPath(const std::string& path);
