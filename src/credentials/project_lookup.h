// The organisation's project id, looked up through the gateway while the configuration
// loads. Signed requests later send it as "x-project-id".
#pragma once

#include <string>

#include "credentials/gateway_identity.h"

// Where the project is looked up: the gateway's account side and the organisation.
struct ProjectLookup {
  std::string accountUrl;       // base of both URLs below
  std::string gatewayTokenUrl;  // path of the gateway token endpoint
  std::string projectUrl;       // path and query of the project list, with "{org-id}"
  std::string orgId;
};

// The URL of the organisation's project list: the account URL and the project path, with every
// "{org-id}" replaced by the organisation.
std::string projectListUrl(const ProjectLookup& lookup);

// The project id as decimal text: `identity.projectId` when already set; otherwise, when no
// input is missing, a gateway token is fetched and the project list GET (20 s limit, signed
// in gateway mode) is read with projectIdFromAnswer. Empty when none was obtained; in gateway
// mode one ERROR line then says why: the input missing, the gateway token's refusal when the
// token is empty, else the transport's reason or what the project list answer lacks.
std::string findProjectId(const ProjectLookup& lookup, const GatewayIdentity& identity);

// "project"."id" of an answer object (UTF-8, as received) as unsigned decimal text when it is
// an integer from 0 to 2^64-1; empty otherwise, with what the answer lacks (and its "code" and
// "message") in `reason`.
std::string projectIdFromAnswer(const std::string& answer, std::string& reason);
