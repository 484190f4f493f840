// Who a request is made for, as the signer and the requests of credentials/ and job/ need it.
#pragma once

#include <string>

// The application's key and secret (also its service credential), and the tenant and project
// it acts in. Requests are signed for the gateway when `tenantId` is set.
struct GatewayIdentity {
  std::string appKey;
  std::string appSecret;
  std::string tenantId;
  std::string projectId;

  bool gatewayMode() const { return !tenantId.empty(); }
};
