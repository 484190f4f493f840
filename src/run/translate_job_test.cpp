// The job's request operations: each asks for the service token first and works on the
// job's own fields.
#include "run/translate_job.h"

#include <gtest/gtest.h>

#include "support/capture.h"
#include "support/curl_global.h"
#include "support/fake_clock.h"
#include "support/log_capture.h"
#include "support/service_fixtures.h"
#include "support/test_server.h"

using namespace testing_support;

namespace {

const char kTokenPath[] = "/oauth2/token";
const char kTranslatePath[] = "/v2/translate";
const char kStatusPath[] = "/translate";

class JobTest : public ::testing::Test {
 protected:
  JobTest() : clock(ticksAtNewYear2030()), timeSource(&clock) {
    initCurlGlobal();
    job.tokenUrl = server.url() + kTokenPath;
    job.translateUrl = server.url() + kTranslatePath;
    job.statusUrl = server.url() + kStatusPath;
    job.requestBody = R"({"source":{"fileId":123}})";
    job.fileId = "123";
    job.appKey = "key";
    job.appSecret = "secret";
    job.tokenExpiry = clock.nowTicks();  // as at the start of a run
    job.message = "before";
  }

  TestServer server;
  FakeClock clock;
  ScopedTimeSource timeSource;
  TranslateJob job;
};

}  // namespace

// Without a token nothing needing one is sent: the token's refusal is the verdict's reason.
TEST_F(JobTest, ACommitWithoutATokenSendsNothingAndSaysWhy) {
  server.onAlways("POST", kTokenPath, jsonAnswer(R"({"code":401,"message":"bad credential"})"));
  server.onAlways("PUT", kTranslatePath, jsonAnswer(R"({"code":"success"})"));
  CoutCapture out;
  LogCapture log;
  EXPECT_FALSE(job.commitTranslate());
  const std::string reason = "getMarluneAccessToken: refused (code: 401, message: bad credential)";
  EXPECT_EQ(job.message, reason);
  EXPECT_EQ(log.count(reason), 1u);
  EXPECT_TRUE(server.requestsTo(kTranslatePath).empty());
  EXPECT_EQ(out.text().find("commitTranslate"), std::string::npos);
}

// A poll refused with a token kept from before is made again, once, with a new token; a refusal
// of the new one is the verdict.
TEST_F(JobTest, ARefusedPollGetsOneNewToken) {
  server.onSequence("POST", kTokenPath,
                    {jsonAnswer(tokenAnswer("first", "2030-01-01 09:00:00")),
                     jsonAnswer(tokenAnswer("second", "2030-01-01 09:00:00")),
                     jsonAnswer(tokenAnswer("third", "2030-01-01 09:00:00"))});
  const EmulatorResponse expired = jsonAnswer(R"({"code":401,"message":"access token expired"})");
  server.onSequence("GET", kStatusPath,
                    {jsonAnswer(statusAnswer("processing")), expired,
                     jsonAnswer(statusAnswer("success")), expired, expired});
  CoutCapture out;
  LogCapture log;
  EXPECT_TRUE(job.waitForTranslate());
  EXPECT_EQ(job.message, "before");
  EXPECT_FALSE(job.waitForTranslate());
  EXPECT_EQ(job.message, "access token expired");
  std::vector<std::string> bearers;
  for (const RecordedRequest& request : server.requestsTo(kStatusPath)) {
    bearers.push_back(request.header("Authorization"));
  }
  const std::vector<std::string> expected = {"Bearer first", "Bearer first", "Bearer second",
                                             "Bearer second", "Bearer third"};
  EXPECT_EQ(bearers, expected);
  EXPECT_EQ(log.count("asking for a new one and polling again"), 2u);
}

TEST_F(JobTest, TheTokenIsRenewedInsideTheWait) {
  server.onSequence("POST", kTokenPath,
                    {jsonAnswer(tokenAnswer("first", "2030-01-01 08:00:12")),
                     jsonAnswer(tokenAnswer("second", "2030-01-01 09:00:00"))});
  server.onSequence("GET", kStatusPath,
                    {jsonAnswer(statusAnswer("processing")), jsonAnswer(statusAnswer("processing")),
                     jsonAnswer(statusAnswer("processing")), jsonAnswer(statusAnswer("success"))});
  CoutCapture out;
  EXPECT_TRUE(job.waitForTranslate());

  // Polls at 5, 10, 15 and 20 s: the first token has 2 s left at 10 s and is gone at 15 s.
  std::vector<std::string> bearers;
  for (const RecordedRequest& request : server.requestsTo(kStatusPath)) {
    bearers.push_back(request.header("Authorization"));
  }
  const std::vector<std::string> expected = {"Bearer first", "Bearer first", "Bearer second",
                                             "Bearer second"};
  EXPECT_EQ(bearers, expected);
  EXPECT_EQ(server.requestsTo(kTokenPath).size(), 2u);

  const std::string printed = out.text();
  size_t firstRenewal = printed.find("getMarluneAccessToken CURLOPT_WRITEFUNCTION out:\n");
  size_t secondRenewal = printed.rfind("getMarluneAccessToken CURLOPT_WRITEFUNCTION out:\n");
  EXPECT_EQ(firstRenewal, 0u);
  ASSERT_NE(secondRenewal, firstRenewal);
  EXPECT_EQ(printed.substr(secondRenewal - 3, 3), "\n++");
  EXPECT_EQ(printed.substr(printed.size() - 2), "\n+");
}
