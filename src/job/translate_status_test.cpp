#include "job/translate_status.h"

#include <gtest/gtest.h>

#include <chrono>

#include "support/capture.h"
#include "support/curl_global.h"
#include "support/fake_clock.h"
#include "support/log_capture.h"
#include "support/service_fixtures.h"
#include "support/test_server.h"

using namespace testing_support;

namespace {

const char kStatusPath[] = "/translate";
const char kWriteLabel[] = "getTranslateStatus CURLOPT_WRITEFUNCTION out:\n";
const char kHeaderLabel[] = "getTranslateStatus CURLOPT_HEADERFUNCTION out:\n";

// The fields of a job that the status query and the wait read and write, with the token
// already obtained.
struct StatusJob {
  StatusPoll poll() {
    return queryTranslateStatus(statusUrl, fileId, accessToken,
                                GatewayIdentity{"key", "secret", tenantId, projectId}, message);
  }
  int getTranslateStatus() { return poll().outcome; }
  int parseTranslateStatus(const std::string& answer) {
    return ::parseTranslateStatus(answer, message);
  }
  bool waitForTranslate() {
    return waitForOutcome(
        overtime, [this](int64_t) { return poll(); }, message);
  }

  std::string statusUrl;
  std::string fileId = "123";
  std::string accessToken = "tok";
  std::string tenantId;
  std::string projectId;
  std::string message = "before";
  uint64_t overtime = 3600;
};

StatusJob prepareJob(const TestServer& server) {
  initCurlGlobal();
  StatusJob job;
  job.statusUrl = server.url() + kStatusPath;
  return job;
}

class StatusTest : public ::testing::Test {
 protected:
  StatusTest() : clock(ticksAtNewYear2030()), timeSource(&clock) { job = prepareJob(server); }

  // The status endpoint answers `bodies` in turn, the last one repeating.
  void answerStatus(const std::vector<std::string>& bodies) {
    std::vector<EmulatorResponse> answers;
    for (const std::string& body : bodies) answers.push_back(jsonAnswer(body));
    server.onSequence("GET", kStatusPath, answers);
  }

  TestServer server;
  FakeClock clock;
  ScopedTimeSource timeSource;
  StatusJob job;
};

struct StatusRow {
  const char* answer;
  int outcome;
  const char* printed;
  const char* message;  // the job's message afterwards; it starts as "before"
};

}  // namespace

TEST_F(StatusTest, ParsingGivesTheOutcomeMarkAndMessage) {
  const StatusRow rows[] = {
      {"", kStatusFailed, "", "before"},
      {"not json", kStatusFailed, "*", "before"},
      {R"(["success"])", kStatusFailed, "*", "before"},
      {R"({"code":401,"message":"expired"})", kStatusFailed, "", "expired"},
      {R"({"code":401})", kStatusFailed, "", "before"},
      {R"({"code":"success","data":{"status":"processing"}})", kStatusProcessing, "+", "before"},
      {R"({"code":"success","message":"done","data":{"status":"success"}})", kStatusFinished, "",
       "before"},
      {R"({"code":"success","data":{"status":"SUCCESS"}})", kStatusFailed, "*", "before"},
      {R"({"code":"Success","data":{"status":"success"}})", kStatusFailed, "*", "before"},
      {R"({"code":"success","message":"no data"})", kStatusFailed, "*", "no data"},
      {R"({"code":"success","message":"no status","data":{}})", kStatusFailed, "*", "no status"},
      {R"({"code":"success","data":"success"})", kStatusFailed, "*", "before"},
      {R"({"code":"success","data":{"status":1}})", kStatusFailed, "*", "before"},
      {R"({"code":2.5,"message":"odd code"})", kStatusFailed, "*", "odd code"},
      {R"({"code":"failed","message":"job failed","data":{"status":"failed"}})", kStatusFailed, "*",
       "job failed"},
  };
  for (const StatusRow& row : rows) {
    job.message = "before";
    CoutCapture out;
    EXPECT_EQ(job.parseTranslateStatus(row.answer), row.outcome) << row.answer;
    EXPECT_EQ(out.text(), row.printed) << row.answer;
    EXPECT_EQ(job.message, row.message) << row.answer;
  }
}

TEST_F(StatusTest, QueryCarriesTheFileIdAndDumpsOnlyOnFailure) {
  answerStatus({statusAnswer("processing"), R"({"code":"success","message":"lost"})"});
  {
    CoutCapture out;
    EXPECT_EQ(job.getTranslateStatus(), kStatusProcessing);
    EXPECT_EQ(out.text(), "+");
  }
  CoutCapture out;
  EXPECT_EQ(job.getTranslateStatus(), kStatusFailed);
  EXPECT_EQ(
      out.text().rfind(std::string("*") + kWriteLabel + R"({"code":"success","message":"lost"})" +
                           "\n" + kHeaderLabel + "HTTP/1.1 200 OK\r\n",
                       0),
      0u);
  EXPECT_EQ(job.message, "lost");

  std::vector<RecordedRequest> requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, std::string(kStatusPath) + "?fileId=123");
  EXPECT_EQ(requests[0].body, "");
  const std::vector<std::string> expected = {"Authorization:Bearer tok",
                                             "Content-Type: application/json"};
  EXPECT_EQ(ownHeaderLines(requests[0]), expected);
}

TEST_F(StatusTest, WaitEndsWhenTheJobSucceeds) {
  answerStatus({statusAnswer("processing"), statusAnswer("processing"), statusAnswer("processing"),
                statusAnswer("success")});
  CoutCapture out;
  EXPECT_TRUE(job.waitForTranslate());
  EXPECT_EQ(out.text(), "+++");
  EXPECT_EQ(job.message, "before");
  EXPECT_EQ(server.requests().size(), 4u);
  EXPECT_EQ(clock.sleptMs(), 4u * 5000);
}

TEST_F(StatusTest, WaitFailsOnAFailedJobOrAnErrorAnswer) {
  answerStatus({statusAnswer("processing"), statusAnswer("SUCCESS")});
  {
    CoutCapture out;
    EXPECT_FALSE(job.waitForTranslate());
    EXPECT_EQ(
        out.text().rfind(
            std::string("+*") + kWriteLabel + statusAnswer("SUCCESS") + "\n" + kHeaderLabel, 0),
        0u);
    EXPECT_EQ(job.message, "before");
  }
  answerStatus({R"({"code":401,"message":"token expired"})"});
  {
    CoutCapture out;
    EXPECT_FALSE(job.waitForTranslate());
    EXPECT_EQ(
        out.text().rfind(std::string(kWriteLabel) + R"({"code":401,"message":"token expired"})", 0),
        0u);
    EXPECT_EQ(job.message, "token expired");
  }
  answerStatus({""});
  {
    CoutCapture out;
    EXPECT_FALSE(job.waitForTranslate());
    EXPECT_EQ(
        out.text().rfind(std::string(kWriteLabel) + "\n" + kHeaderLabel + "HTTP/1.1 200 OK", 0),
        0u);
  }
  server.onAlways("GET", kStatusPath, droppedAnswer());
  {
    CoutCapture out;
    EXPECT_FALSE(job.waitForTranslate());
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(job.message, "getTranslateStatus failed: Empty reply from server");
  }
}

TEST_F(StatusTest, OvertimeZeroEndsAfterTheFirstQueryEvenOnSuccess) {
  job.overtime = 0;
  answerStatus({statusAnswer("success")});
  EXPECT_FALSE(job.waitForTranslate());
  EXPECT_EQ(job.message, "overtime!");
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(StatusTest, OvertimeCountsWholeSecondsAfterEachQuery) {
  job.overtime = 10;
  CoutCapture out;
  // The second query ends 10.9 s after the start: 10 whole seconds, not over the limit.
  auto slowSecondPoll = [this](const std::vector<std::string>& bodies) {
    auto count = std::make_shared<size_t>(0);
    server.on("GET", kStatusPath, [this, bodies, count](const RecordedRequest&) {
      size_t index = (*count)++;
      if (index == 1) clock.advanceMillis(900);
      return jsonAnswer(bodies[index < bodies.size() ? index : bodies.size() - 1]);
    });
  };
  slowSecondPoll({statusAnswer("processing"), statusAnswer("success")});
  EXPECT_TRUE(job.waitForTranslate());
  EXPECT_EQ(job.message, "before");
  EXPECT_EQ(server.requests().size(), 2u);

  slowSecondPoll({statusAnswer("processing")});
  EXPECT_FALSE(job.waitForTranslate());
  EXPECT_EQ(job.message, "overtime!");
  EXPECT_EQ(server.requests().size(), 2u + 3u);
  EXPECT_EQ(out.text(),
            "+"
            "+++");
}

// The limit is kept on the steady clock: the wall clock set back or on by two hours during the
// wait moves its end by nothing.
TEST_F(StatusTest, AWallClockStepChangesNotWhenTheWaitEnds) {
  job.overtime = 20;
  for (int64_t step : {-2 * 3600 * kSecond, 2 * 3600 * kSecond}) {
    const int64_t start = clock.steadyTicks();
    auto count = std::make_shared<int>(0);
    server.on("GET", kStatusPath, [this, count, step](const RecordedRequest&) {
      if ((*count)++ == 0) clock.stepWallClock(step);
      return jsonAnswer(statusAnswer("processing"));
    });
    CoutCapture out;
    EXPECT_FALSE(job.waitForTranslate());
    EXPECT_EQ(job.message, "overtime!");
    EXPECT_EQ(*count, 5) << step;  // polls at 5, 10, 15, 20 and 25 s
    EXPECT_EQ(clock.steadyTicks() - start, 25 * kSecond) << step;
  }
}

// An answer from a gateway or a busy server tells nothing of the job: it is logged and the job
// is polled again, no sooner than it asks, within 5 to 60 s, and never past the limit.
TEST_F(StatusTest, PassingTroubleIsPolledAgainWhenItAsks) {
  EmulatorResponse busy = jsonAnswer("busy\n", 503);
  busy.headers = {"Retry-After: 12"};
  EmulatorResponse throttled = jsonAnswer("{}", 429);
  throttled.headers = {"Retry-After: 600"};
  server.onSequence("GET", kStatusPath,
                    {busy, jsonAnswer("", 502), throttled, jsonAnswer(statusAnswer("success"))});
  LogCapture log;
  CoutCapture out;
  EXPECT_TRUE(job.waitForTranslate());
  EXPECT_EQ(job.message, "before");
  EXPECT_EQ(out.text(), "");
  EXPECT_EQ(clock.sleptMs(), 5000u + 12000u + 5000u + 60000u);
  EXPECT_EQ(log.count("getTranslateStatus: HTTP 503 tells nothing of the job: busy\\x0a"), 1u);
  EXPECT_EQ(log.count(" tells nothing of the job: "), 3u);

  job.overtime = 30;
  server.onAlways("GET", kStatusPath, busy);
  const int64_t start = clock.steadyTicks();
  const size_t before = server.requests().size();
  EXPECT_FALSE(job.waitForTranslate());
  EXPECT_EQ(job.message, "overtime!");
  EXPECT_EQ(server.requests().size() - before, 3u);  // at 5, 17 and 29 s; 41 s is past the limit
  EXPECT_EQ(clock.steadyTicks() - start, 31 * kSecond);
}

TEST_F(StatusTest, GatewayModeKeepsTheQueryAndAppendsTheGatewayLines) {
  job.tenantId = "tenant-1";
  job.projectId = "42";
  answerStatus({statusAnswer("success")});
  EXPECT_EQ(job.getTranslateStatus(), kStatusFinished);
  std::vector<RecordedRequest> requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target, std::string(kStatusPath) + "?fileId=123");
  EXPECT_EQ(ownHeaderShape(requests[0]),
            signedShape({"Authorization:Bearer tok", "Content-Type: application/json"}));
}

TEST(StatusWaitRealClock, FirstQueryComesFiveSecondsIn) {
  TestServer server;
  StatusJob job = prepareJob(server);
  server.onAlways("GET", kStatusPath, jsonAnswer(statusAnswer("success")));
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(job.waitForTranslate());
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(5000));
  EXPECT_LT(waited, std::chrono::milliseconds(9000));
  EXPECT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(job.message, "before");
}
