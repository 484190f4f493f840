// The organisation's project id, looked up through the gateway while the configuration loads.
#include "run/translate_job.h"

std::string TranslateJob::lookupProjectId() const {
  if (!projectId.empty()) return projectId;
  if (orgId.empty() || accountUrl.empty() || gatewayTokenUrl.empty() || projectUrl.empty()) {
    return std::string();
  }
  return std::string();  // The request itself is not built yet.
}
