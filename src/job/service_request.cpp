// What the service's translate and status requests share.
#include "job/service_request.h"

HttpRequest serviceRequest(const std::string& label, const std::string& method,
                           const std::string& url, const std::string& token,
                           const GatewayIdentity& identity, const QueryMap& query) {
  HttpRequest request(label, method, url);
  request.followRedirects = true;
  request.assumeHttps = true;
  request.headerLines = jsonHeaderLines("Bearer " + token);
  signForGateway(identity, request.url, request.method, query, request.headerLines);
  return request;
}
