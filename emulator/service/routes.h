// Which endpoint a request path names, and the method it takes there: the service's token,
// translate and status paths and the gateway's token and organisation paths, at the client's
// default paths.
#pragma once

#include <cstdint>
#include <string>

#include "server/recorded_request.h"

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

// The file a translate request (its body's "source"."fileId") or a status query (its
// "fileId" parameter) names; `known` is false for other requests, and where none is named.
struct RequestFile {
  bool known = false;
  int64_t id = 0;
};
RequestFile fileOf(const Route& route, const RecordedRequest& request);

// True when `path` lies under the admin interface, /__emulator/.
bool isAdminPath(const std::string& path);
