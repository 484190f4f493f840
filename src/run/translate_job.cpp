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
#include "transport/local_json.h"
#include "transport/text_encoding.h"
#include "util/ascii.h"
#include "util/log.h"
#include "util/masking.h"

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
  // A result file that could not be written would leave an earlier run's verdict standing.
  const std::string written = outputPath;
  outputPath = utf8ToLocal(outputPath);
  if (outputPath.empty()) {
    message = "output " + written +
              " has no name in the local code page (GBK): a character outside it, or bytes "
              "that are no UTF-8";
    return false;
  }
  std::string reason;
  if (!platform::isFileLocation(outputPath, reason)) {
    message = "output " + written + " " + reason;
    return false;
  }
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
RunEnd TranslateJob::run() {
  tokenExpiry = platform::nowTicks();
  const int64_t start = platform::steadyTicks();

  bool succeeded = false;
  if (equalsIgnoreCase(cmdType, "translate")) {
    succeeded = commitTranslate();
  } else if (equalsIgnoreCase(cmdType, "waitfor")) {
    succeeded = waitForTranslate();
  } else if (equalsIgnoreCase(cmdType, "translatewaitfor")) {
    succeeded = commitTranslate() && waitForTranslate();
  } else {
    message = "unknown cmdtype " + cmdType + ": use translate, waitfor or translatewaitfor";
    MLOG(WARNING, kUnknownCommand) << loggableText(message, kLoggedTextBytes);
  }

  MLOG(INFO, kSpendTime) << "spend time: "
                         << (platform::steadyTicks() - start) / platform::kTicksPerSecond
                         << " seconds.";
  RunEnd end;
  end.interruptedBy = platform::interruptRequest();
  if (end.interruptedBy != 0) {
    succeeded = false;
    message = "interrupted";
  }

  std::string reason;
  end.written = writeResultFile(outputPath, succeeded, message, fileId, reason);
  if (!end.written) {
    MLOG(ERROR, kOutputResultFailed) << "output result failed!";
    MLOG(ERROR, kOutputResultReason) << "cannot write " << outputPath << ": " << reason;
  }
  MLOG(INFO, kVerdict) << "verdict " << (succeeded ? "success" : "failed") << " ("
                       << loggableText(message, kLoggedTextBytes) << ") "
                       << (end.written ? "written to " : "not written to ")
                       << loggableText(outputPath, kLoggedTextBytes);
  return end;
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
      message, "file " + fileId);
}
