// The job's request operations: each hands the fields it needs to the request functions
// of credentials/ and job/ and stores what they give back.
#include "run/translate_job.h"

#include "credentials/access_token.h"
#include "credentials/project_lookup.h"
#include "job/translate_commit.h"

GatewayIdentity TranslateJob::gatewayIdentity() const {
  return GatewayIdentity{appKey, appSecret, tenantId, projectId};
}

std::string TranslateJob::getMarluneAccessToken(int64_t deadlineTicks) {
  return obtainServiceToken(tokenUrl, gatewayIdentity(), accessToken, tokenExpiry, message,
                            deadlineTicks);
}

std::string TranslateJob::lookupProjectId() const {
  return findProjectId(ProjectLookup{accountUrl, gatewayTokenUrl, projectUrl, orgId},
                       gatewayIdentity());
}

bool TranslateJob::commitTranslate() {
  const std::string token = getMarluneAccessToken();
  return submitTranslate(translateUrl, requestBody, token, gatewayIdentity(), message);
}

int TranslateJob::getTranslateStatus(int64_t deadlineTicks) {
  const std::string token = getMarluneAccessToken(deadlineTicks);
  return queryTranslateStatus(statusUrl, fileId, token, gatewayIdentity(), message, deadlineTicks);
}

bool TranslateJob::waitForTranslate() {
  return waitForOutcome(
      overtime, [this](int64_t deadlineTicks) { return getTranslateStatus(deadlineTicks); },
      message);
}
