// Querying the translate job's status and waiting for its end.
#include "job/translate_status.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <climits>
#include <iostream>

#include "answers/console_blocks.h"
#include "answers/service_envelope.h"
#include "job/service_request.h"
#include "platform/platform.h"
#include "transport/local_json.h"
#include "util/json.h"
#include "util/log.h"
#include "util/masking.h"

namespace {

const int64_t kPollPauseMs = 5000;

// How long a poll may come after one that met passing trouble, in milliseconds.
const int64_t kLongestPauseMs = 60000;

const int64_t kTicksPerMs = platform::kTicksPerSecond / 1000;

// Whole seconds since `start`, on the steady clock.
uint64_t secondsSince(int64_t start) {
  int64_t elapsed = (platform::steadyTicks() - start) / platform::kTicksPerSecond;
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

// The pause before the poll after `poll`: five seconds, or what its passing trouble asked for,
// from five seconds to a minute.
int64_t pauseAfter(const StatusPoll& poll) {
  if (!poll.passing) return kPollPauseMs;
  const int64_t asked = poll.retryAfterSeconds * 1000;
  return std::min(std::max<int64_t>(asked, kPollPauseMs), kLongestPauseMs);
}

// What a poll found, for the wait's progress lines.
const char* findingOf(const StatusPoll& poll) {
  if (poll.passing) return "not known (passing trouble)";
  if (poll.outcome == kStatusProcessing) return "processing";
  return poll.outcome == kStatusFinished ? "finished" : "failed";
}

// The wait's progress in the log: a line when what the polls find changes, and at least once a
// minute while it does not.
class WaitReport {
 public:
  WaitReport(const std::string& subject, uint64_t overtime, int64_t start)
      : subject_(subject), overtime_(overtime), start_(start) {}

  void after(const StatusPoll& poll) {
    const int64_t now = platform::steadyTicks();
    const std::string finding = findingOf(poll);
    if (finding == last_ && now - lastAt_ < kReportTicks) return;
    MLOG(INFO, kWaitProgress) << subject_ << " " << finding << ", "
                              << (now - start_) / platform::kTicksPerSecond << " s of "
                              << overtime_;
    last_ = finding;
    lastAt_ = now;
  }

 private:
  static const int64_t kReportTicks = 60 * platform::kTicksPerSecond;

  const std::string subject_;
  const uint64_t overtime_;
  const int64_t start_;
  std::string last_;
  int64_t lastAt_ = 0;
};

}  // namespace

StatusPoll queryTranslateStatus(const std::string& statusUrl, const std::string& fileId,
                                const std::string& token, const GatewayIdentity& identity,
                                std::string& message, int64_t deadlineTicks) {
  HttpRequest request = serviceRequest("getTranslateStatus", "GET", statusUrl + "?fileId=" + fileId,
                                       token, identity, {{"fileId", fileId}});
  request.deadlineTicks = deadlineTicks;
  HttpAnswer answer;
  StatusPoll poll;
  if (!performRequest(request, answer, message)) return poll;
  if (isPassingTrouble(answer.status)) {
    MLOG(WARNING, kPassingTrouble)
        << request.label << ": HTTP " << answer.status
        << " tells nothing of the job: " << loggableText(answer.body, kLoggedTextBytes);
    poll.passing = true;
    poll.retryAfterSeconds = answer.retryAfterSeconds;
    return poll;
  }
  poll = readStatusAnswer(answer.body, message);
  if (poll.outcome == kStatusFailed) printAnswerBlocks(request.label, answer);
  return poll;
}

int parseTranslateStatus(const std::string& answer, std::string& message) {
  return readStatusAnswer(answer, message).outcome;
}

StatusPoll readStatusAnswer(const std::string& answer, std::string& message) {
  StatusPoll poll;
  if (answer.empty()) return poll;
  LocalJson json;
  const rapidjson::Document& doc = json.doc();
  if (!json.parse(answer) || !doc.IsObject()) {
    std::cout << '*' << std::flush;
    return poll;
  }
  const rapidjson::Value* data = nullptr;
  const EnvelopeKind kind = readEnvelope(doc, message, data);
  poll.refused = kind == EnvelopeKind::kError;
  if (poll.refused) return poll;
  std::string status;
  if (kind == EnvelopeKind::kSuccess && getStringMember(*data, "status", status)) {
    if (status == "processing") {
      std::cout << '+' << std::flush;
      poll.outcome = kStatusProcessing;
      return poll;
    }
    if (status == "success") {
      poll.outcome = kStatusFinished;
      return poll;
    }
  }
  getLocalStringMember(doc, "message", message);
  std::cout << '*' << std::flush;
  return poll;
}

bool waitForOutcome(uint64_t overtime, const std::function<StatusPoll(int64_t)>& pollOnce,
                    std::string& message, const std::string& subject) {
  const int64_t start = platform::steadyTicks();
  const int64_t deadline = overtimeInstant(start, overtime);
  WaitReport report(subject, overtime, start);
  StatusPoll poll;
  for (;;) {
    const int64_t pauseMs = pauseAfter(poll);
    const int64_t left = deadline - platform::steadyTicks();
    if (poll.passing && deadline != 0 && pauseMs * kTicksPerMs > left) {
      // The server asked for more time than the wait has left.
      platform::sleepMillis(
          static_cast<unsigned>((std::max<int64_t>(left, 0) + kTicksPerMs - 1) / kTicksPerMs));
      message = "overtime!";
      return false;
    }
    platform::sleepMillis(static_cast<unsigned>(pauseMs));
    poll = pollOnce(deadline);
    report.after(poll);
    if (secondsSince(start) > overtime) {
      message = "overtime!";
      return false;
    }
    if (!poll.passing && poll.outcome != kStatusProcessing) break;
  }
  return poll.outcome == kStatusFinished;
}
