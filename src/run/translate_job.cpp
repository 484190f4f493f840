// The job's operations: loading its configuration, running it, and the request operations,
// each of which hands the fields it needs to the request functions of credentials/ and job/
// and stores what they give back.
#include "run/translate_job.h"

#include "credentials/access_token.h"
#include "credentials/project_lookup.h"
#include "job/translate_commit.h"
#include "platform/file_replace.h"
#include "platform/interrupt.h"
#include "platform/platform.h"
#include "run/config.h"
#include "run/result_document.h"
#include "transport/text_encoding.h"
#include "util/ascii.h"
#include "util/log.h"

namespace {

// Ends a request for want of a service token: its reason is logged (the transport logged its
// own failures already) and becomes the message. False.
bool stopWithoutToken(const ServiceToken& token, std::string& message) {
  if (token.answered) MLOG(ERROR, kNoServiceToken) << token.reason;
  message = token.reason;
  return false;
}

// A status poll that could get no token: passing trouble when the token's answer was, a failed
// poll otherwise.
StatusPoll pollWithoutToken(const ServiceToken& token, std::string& message) {
  StatusPoll poll;
  if (!token.passing) {
    stopWithoutToken(token, message);
    return poll;
  }
  MLOG(WARNING, kPassingTrouble) << token.reason << " (tells nothing of the job)";
  poll.passing = true;
  poll.retryAfterSeconds = token.retryAfterSeconds;
  return poll;
}

}  // namespace

bool TranslateJob::loadConfig(const std::string& path) {
  if (path.empty()) {
    message = "file path is empty!";
    return false;
  }
  rapidjson::Document doc;
  if (!readConfigDocument(path, doc, message)) {
    MLOG(ERROR, kLoadConfigError) << " load config error!";
    return false;
  }
  if (!readSettings(doc, *this)) return false;
  const std::string problem = unsendableSetting(*this);
  if (!problem.empty()) {
    message = problem;
    return false;
  }
  outputPath = utf8ToLocal(outputPath);
  deriveUrls();
  return true;
}

void TranslateJob::deriveUrls() {
  tokenUrl = rootUrl + tokenUrl;
  translateUrl = rootUrl + translateUrl;
  statusUrl = rootUrl + statusUrl;
}

bool TranslateJob::clearEarlierResult() {
  std::string reason;
  if (platform::clearFile(outputPath, reason)) return true;
  message = "cannot clear the earlier result " + outputPath + ": " + reason;
  MLOG(ERROR, kEarlierResultKept) << message;
  return false;
}

// libcurl's global state belongs to the transport session, which lives for the whole run.
bool TranslateJob::run() {
  tokenExpiry = platform::nowTicks();
  int64_t start = platform::nowTicks();

  bool succeeded = false;
  if (equalsIgnoreCase(cmdType, "translate")) {
    succeeded = commitTranslate();
  } else if (equalsIgnoreCase(cmdType, "waitfor")) {
    succeeded = waitForTranslate();
  } else if (equalsIgnoreCase(cmdType, "translatewaitfor")) {
    succeeded = commitTranslate() && waitForTranslate();
  }

  int64_t end = platform::nowTicks();
  MLOG(INFO, kSpendTime) << "spend time: " << (end - start) / platform::kTicksPerSecond
                         << " seconds.";
  if (platform::interruptRequest() != 0) {
    succeeded = false;
    message = "interrupted";
  }

  std::string reason;
  bool written = writeResultFile(outputPath, succeeded, message, fileId, reason);
  if (!written) {
    MLOG(ERROR, kOutputResultFailed) << "output result failed!";
    MLOG(ERROR, kOutputResultReason) << "cannot write " << outputPath << ": " << reason;
  }
  return written;
}

GatewayIdentity TranslateJob::gatewayIdentity() const {
  return GatewayIdentity{appKey, appSecret, tenantId, projectId};
}

ServiceToken TranslateJob::getMarluneAccessToken(int64_t deadlineTicks) {
  return obtainServiceToken(tokenUrl, gatewayIdentity(), accessToken, tokenExpiry, deadlineTicks);
}

std::string TranslateJob::lookupProjectId() const {
  return findProjectId(ProjectLookup{accountUrl, gatewayTokenUrl, projectUrl, orgId},
                       gatewayIdentity());
}

bool TranslateJob::commitTranslate() {
  const ServiceToken token = getMarluneAccessToken();
  if (token.token.empty()) return stopWithoutToken(token, message);
  return submitTranslate(translateUrl, requestBody, token.token, gatewayIdentity(), message);
}

StatusPoll TranslateJob::getTranslateStatus(int64_t deadlineTicks) {
  ServiceToken token = getMarluneAccessToken(deadlineTicks);
  if (token.token.empty()) return pollWithoutToken(token, message);
  // A refusal that a new token answers is no verdict: its message waits until it is one.
  std::string said = message;
  StatusPoll poll =
      queryTranslateStatus(statusUrl, fileId, token.token, gatewayIdentity(), said, deadlineTicks);
  if (poll.refused && !token.fresh) {
    MLOG(INFO, kPollRefused) << "getTranslateStatus: the service refused a token obtained before "
                                "this poll; asking for a new one and polling again";
    accessToken.clear();
    token = getMarluneAccessToken(deadlineTicks);
    if (token.token.empty()) return pollWithoutToken(token, message);
    said = message;
    poll = queryTranslateStatus(statusUrl, fileId, token.token, gatewayIdentity(), said,
                                deadlineTicks);
  }
  message = said;
  return poll;
}

bool TranslateJob::waitForTranslate() {
  return waitForOutcome(
      overtime, [this](int64_t deadlineTicks) { return getTranslateStatus(deadlineTicks); },
      message);
}
