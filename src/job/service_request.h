// What the service's translate and status requests share.
#pragma once

#include <string>

#include "credentials/gateway_signer.h"
#include "transport/http_exchange.h"

// A request to the service authorised by "Authorization:Bearer <token>" with a JSON content
// type, redirects followed, "https" for a URL without a scheme; signed with `query` in gateway
// mode.
HttpRequest serviceRequest(const std::string& label, const std::string& method,
                           const std::string& url, const std::string& token,
                           const GatewayIdentity& identity, const QueryMap& query);
