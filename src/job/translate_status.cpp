// Querying the translate job's status and waiting for its end.
#include "job/translate_status.h"

#include <rapidjson/document.h>

#include <climits>
#include <iostream>

#include "answers/console_blocks.h"
#include "answers/service_envelope.h"
#include "job/service_request.h"
#include "platform/platform.h"
#include "transport/local_json.h"
#include "util/json.h"

namespace {

const unsigned kPollPauseMs = 5000;

// Whole seconds since `start`; a clock set back counts as no time passed.
uint64_t secondsSince(int64_t start) {
  int64_t elapsed = (platform::nowTicks() - start) / platform::kTicksPerSecond;
  return elapsed < 0 ? 0 : static_cast<uint64_t>(elapsed);
}

// The first instant at which more than `overtime` whole seconds have passed since `start`;
// 0 when that lies beyond the clock's range.
int64_t overtimeInstant(int64_t start, uint64_t overtime) {
  if (start < 0) return 0;
  const uint64_t room = static_cast<uint64_t>(INT64_MAX - start) / platform::kTicksPerSecond;
  if (overtime >= room) return 0;
  return start + static_cast<int64_t>(overtime + 1) * platform::kTicksPerSecond;
}

}  // namespace

int queryTranslateStatus(const std::string& statusUrl, const std::string& fileId,
                         const std::string& token, const GatewayIdentity& identity,
                         std::string& message, int64_t deadlineTicks) {
  HttpRequest request = serviceRequest("getTranslateStatus", "GET", statusUrl + "?fileId=" + fileId,
                                       token, identity, {{"fileId", fileId}});
  request.deadlineTicks = deadlineTicks;
  HttpAnswer answer;
  if (!performRequest(request, answer, message)) return kStatusFailed;
  int outcome = parseTranslateStatus(answer.body, message);
  if (outcome == kStatusFailed) printAnswerBlocks(request.label, answer);
  return outcome;
}

int parseTranslateStatus(const std::string& answer, std::string& message) {
  if (answer.empty()) return kStatusFailed;
  LocalJson json;
  const rapidjson::Document& doc = json.doc();
  if (!json.parse(answer) || !doc.IsObject()) {
    std::cout << '*' << std::flush;
    return kStatusFailed;
  }
  const rapidjson::Value* data = nullptr;
  const EnvelopeKind kind = readEnvelope(doc, message, data);
  if (kind == EnvelopeKind::kError) return kStatusFailed;
  std::string status;
  if (kind == EnvelopeKind::kSuccess && getStringMember(*data, "status", status)) {
    if (status == "processing") {
      std::cout << '+' << std::flush;
      return kStatusProcessing;
    }
    if (status == "success") return kStatusFinished;
  }
  getLocalStringMember(doc, "message", message);
  std::cout << '*' << std::flush;
  return kStatusFailed;
}

bool waitForOutcome(uint64_t overtime, const std::function<int(int64_t)>& queryOnce,
                    std::string& message) {
  const int64_t start = platform::nowTicks();
  const int64_t deadline = overtimeInstant(start, overtime);
  int outcome = kStatusFailed;
  for (;;) {
    platform::sleepMillis(kPollPauseMs);
    outcome = queryOnce(deadline);
    if (secondsSince(start) > overtime) {
      message = "overtime!";
      return false;
    }
    if (outcome != kStatusProcessing) break;
  }
  return outcome == kStatusFinished;
}
