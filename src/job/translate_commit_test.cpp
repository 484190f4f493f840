#include "job/translate_commit.h"

#include <gtest/gtest.h>

#include "support/capture.h"
#include "support/curl_global.h"
#include "support/fake_clock.h"
#include "support/log_capture.h"
#include "support/service_fixtures.h"
#include "support/test_server.h"

using namespace testing_support;

namespace {

const char kTranslatePath[] = "/v2/translate";
const char kBody[] = R"({"source":{"fileId":123},"to":"en"})";

// The fields of a job that a commit reads and writes, with the token already obtained.
struct CommitJob {
  bool commitTranslate() {
    return submitTranslate(translateUrl, requestBody, accessToken,
                           GatewayIdentity{appKey, appSecret, tenantId, projectId}, message);
  }

  std::string translateUrl;
  std::string requestBody;
  std::string accessToken;
  std::string appKey;
  std::string appSecret;
  std::string tenantId;
  std::string projectId;
  std::string message;
};

class CommitTest : public ::testing::Test {
 protected:
  CommitTest() : clock(ticksAtNewYear2030()), timeSource(&clock) {
    initCurlGlobal();
    job.translateUrl = server.url() + kTranslatePath;
    job.requestBody = kBody;
    job.appKey = "key";
    job.appSecret = "secret";
    job.accessToken = "tok";
  }

  TestServer server;
  FakeClock clock;
  ScopedTimeSource timeSource;
  CommitJob job;
};

struct CommitRow {
  const char* body;
  int httpStatus;
  bool accepted;
  const char* message;  // the job's message afterwards; it starts as "before"
};

}  // namespace

TEST_F(CommitTest, VerdictAndMessageComeFromTheAnswer) {
  const CommitRow rows[] = {
      {R"({"code":"success","message":"accepted"})", 200, true, "accepted"},
      {R"({"code":"SUCCESS"})", 200, true, "before"},
      {R"({"code":"Success","message":"ok","data":{}})", 200, true, "ok"},
      {R"({"code":"success","message":"server hiccup"})", 500, true, "server hiccup"},
      {R"({"code":400,"message":"bad request"})", 400, false, "bad request"},
      {R"({"message":"no code"})", 200, false, "no code"},
      {R"({"code":"success","message":12})", 200, true, "before"},
      {R"({"code":"failed","message":"quota exceeded"})", 200, false, "quota exceeded"},
      {R"({"code":"successful","message":"close"})", 200, false, "close"},
      {R"([{"code":"success","message":"in an array"}])", 200, false, "before"},
      {"<html>gateway error</html>", 502, false, "before"},
      {"", 200, false, "before"},
  };
  for (const CommitRow& row : rows) {
    job.message = "before";
    server.onAlways("PUT", kTranslatePath, jsonAnswer(row.body, row.httpStatus));
    CoutCapture out;
    EXPECT_EQ(job.commitTranslate(), row.accepted) << row.body;
    EXPECT_EQ(job.message, row.message) << row.body;
    const std::string printed = out.text();
    EXPECT_EQ(printed.rfind("commitTranslate CURLOPT_WRITEFUNCTION out:\n" + std::string(row.body) +
                                "\ncommitTranslate CURLOPT_HEADERFUNCTION out:\nHTTP/1.1 ",
                            0),
              0u)
        << printed;
  }
  EXPECT_EQ(server.requests().size(), sizeof(rows) / sizeof(rows[0]));
}

TEST_F(CommitTest, PutsTheBodyWithBearerAndContentTypeOnly) {
  server.onAlways("PUT", kTranslatePath, jsonAnswer(R"({"code":"success"})"));
  EXPECT_TRUE(job.commitTranslate());
  std::vector<RecordedRequest> requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "PUT");
  EXPECT_EQ(requests[0].target, kTranslatePath);
  EXPECT_EQ(requests[0].body, kBody);
  const std::vector<std::string> expected = {"Authorization:Bearer tok",
                                             "Content-Type: application/json"};
  EXPECT_EQ(ownHeaderLines(requests[0]), expected);
}

TEST_F(CommitTest, SendsEvenAnEmptyToken) {
  job.accessToken.clear();
  server.onAlways("PUT", kTranslatePath, jsonAnswer(R"({"code":"failed"})"));
  CoutCapture out;
  EXPECT_FALSE(job.commitTranslate());
  // libcurl sends the line as written, the blank after "Bearer" included.
  const std::vector<std::string> expected = {"Authorization:Bearer ",
                                             "Content-Type: application/json"};
  EXPECT_EQ(ownHeaderLines(server.requests().at(0)), expected);
}

TEST_F(CommitTest, FailedExchangePrintsNothingAndSaysWhy) {
  job.message = "before";
  server.onAlways("PUT", kTranslatePath, droppedAnswer());
  CoutCapture out;
  LogCapture log;
  EXPECT_FALSE(job.commitTranslate());
  EXPECT_EQ(out.text(), "");
  EXPECT_EQ(job.message, "commitTranslate failed: Empty reply from server");
  EXPECT_EQ(log.count(" connect failed!!! max retry 32"), 1u);
}

TEST_F(CommitTest, EndlessRedirectsFailAfterThirtyHops) {
  EmulatorResponse loop;
  loop.status = 302;
  loop.headers = {"Location: /hop"};
  server.onAlways("PUT", kTranslatePath, loop);
  server.onAlways("PUT", "/hop", loop);
  job.message = "before";
  CoutCapture out;
  LogCapture log;
  EXPECT_FALSE(job.commitTranslate());
  EXPECT_EQ(out.text(), "");
  EXPECT_EQ(job.message, "commitTranslate failed: Maximum (30) redirects followed");
  // Each attempt is the request itself and 30 redirects.
  EXPECT_EQ(server.requestsTo("/hop").size(), 30 * server.requestsTo(kTranslatePath).size());
  EXPECT_EQ(log.count(" connect failed!!! max retry 32"), 1u);
}

TEST_F(CommitTest, GatewayModeAppendsTheSevenGatewayLines) {
  job.tenantId = "tenant-1";
  job.projectId = "42";
  server.onAlways("PUT", kTranslatePath, jsonAnswer(R"({"code":"success"})"));
  EXPECT_TRUE(job.commitTranslate());
  std::vector<RecordedRequest> requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target, kTranslatePath);
  EXPECT_EQ(ownHeaderShape(requests[0]),
            signedShape({"Authorization:Bearer tok", "Content-Type: application/json"}));
}
