// The built client against a scripted service and gateway on 127.0.0.1: what a calling
// script sees (standard output, result file, exit status) and what goes on the wire.
#include <gtest/gtest.h>

#include <chrono>

#include "platform/platform.h"
#include "service/gateway_verifier.h"
#include "support/client_run.h"
#include "support/job_config.h"
#include "support/test_server.h"

using namespace testing_support;

namespace {

const char kToken[] =
    R"({"code":"success","data":{"token":"T1","expireTime":"2999-01-01 00:00:00"}})";
const char kAccepted[] = R"({"code":"Success","message":"job accepted"})";
const char kProcessing[] = R"({"code":"success","data":{"status":"processing"}})";
const char kFinished[] = R"({"code":"success","message":"done","data":{"status":"success"}})";

// The header block our test server sends with a body of `length` bytes.
std::string headerBlock(size_t length, int status = 200, const char* reason = "OK") {
  return "HTTP/1.1 " + std::to_string(status) + " " + reason +
         "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(length) +
         "\r\nConnection: close\r\n\r\n";
}

std::string blocks(const std::string& label, const std::string& body) {
  return label + " CURLOPT_WRITEFUNCTION out:\n" + body + "\n" + label +
         " CURLOPT_HEADERFUNCTION out:\n" + headerBlock(body.size()) + "\n";
}

class ClientRun : public ::testing::Test {
 protected:
  // A run of `cmdType` against the server, its request body for file 4242.
  JobConfig config(const std::string& cmdType) const {
    return JobConfig(cmdType, server.url(), client.resultPath())
        .setJson("requestbody", R"({"source":{"fileId":4242},"lang":"zh"})");
  }
  ProcessResult runClient(const JobConfig& config) { return client.run(config); }
  std::string result() const { return client.result(); }
  std::string echo() const { return client.echo(); }

  TestServer server;
  ClientRunner client{MARLUNE_BINARY};
};

TEST_F(ClientRun, TranslateSubmitsTheBodyAndReportsTheVerdict) {
  server.onAlways("POST", "/oauth2/token", jsonAnswer(kToken));
  server.onAlways("PUT", "/v2/translate", jsonAnswer(kAccepted));
  ProcessResult run = runClient(config("translate"));
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(result(),
            R"({"code":"success","message":"job accepted","data":{"fileitemid":"4242"}})");
  EXPECT_EQ(run.out, echo() + blocks("getMarluneAccessToken", kToken) +
                         blocks("commitTranslate", kAccepted));
  std::vector<RecordedRequest> commits = server.requestsTo("/v2/translate");
  ASSERT_EQ(commits.size(), 1u);
  EXPECT_EQ(commits[0].body, R"({"source":{"fileId":4242},"lang":"zh"})");
  EXPECT_EQ(commits[0].header("Authorization"), "Bearer T1");
  EXPECT_FALSE(commits[0].hasHeader("x-ca-key"));
}

TEST_F(ClientRun, WaitforPollsEveryFiveSecondsUntilTheJobEnds) {
  server.onAlways("POST", "/oauth2/token", jsonAnswer(kToken));
  server.onSequence("GET", "/translate", {jsonAnswer(kProcessing), jsonAnswer(kFinished)});
  ProcessResult run = runClient(config("waitfor").set("overtime", 30));
  EXPECT_EQ(run.exitStatus, 0);
  // Nothing replaced the loader's remark.
  EXPECT_EQ(result(),
            R"({"code":"success","message":"account url is empty!","data":{"fileitemid":"4242"}})");
  EXPECT_EQ(run.out, echo() + blocks("getMarluneAccessToken", kToken) + "+");
  std::vector<RecordedRequest> polls = server.requestsTo("/translate");
  ASSERT_EQ(polls.size(), 2u);
  EXPECT_EQ(polls[0].target, "/translate?fileId=4242");
  EXPECT_NE(run.err.find("] spend time: 10 seconds."), std::string::npos) << run.err;
  EXPECT_EQ(server.requestsTo("/oauth2/token").size(), 1u);  // the kept token serves both polls
}

// Through a pipe, under the real clock: the first mark arrives with the first poll, 5 s in,
// not when the run ends after the second one, 10 s in.
TEST_F(ClientRun, TheWaitsMarksArriveAsTheyAreWritten) {
  server.onAlways("POST", "/oauth2/token", jsonAnswer(kToken));
  server.onAlways("GET", "/translate", jsonAnswer(kProcessing));
  writeFile(client.configPath(), config("waitfor").set("overtime", 6));
  ChildProcess run({MARLUNE_BINARY, "-cfg", client.configPath()}, ProcessOptions());
  const std::string untilMark = asWritten(run.readUntil('+', 9000));
  const auto marked = std::chrono::steady_clock::now();
  EXPECT_EQ(untilMark, echo() + blocks("getMarluneAccessToken", kToken) + "+");
  EXPECT_EQ(run.wait(), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - marked, std::chrono::seconds(3));
}

TEST_F(ClientRun, TranslateWaitforInAnyCaseCommitsThenWaits) {
  server.onAlways("POST", "/oauth2/token", jsonAnswer(kToken));
  server.onAlways("PUT", "/v2/translate", jsonAnswer(kAccepted));
  const char failed[] = R"({"code":"success","message":"bad file","data":{"status":"failed"}})";
  server.onAlways("GET", "/translate", jsonAnswer(failed));
  ProcessResult run = runClient(config("TranslateWAITfor"));
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(result(), R"({"code":"failed","message":"bad file","data":{"fileitemid":"4242"}})");
  EXPECT_EQ(run.out, echo() + blocks("getMarluneAccessToken", kToken) +
                         blocks("commitTranslate", kAccepted) + "*" +
                         blocks("getTranslateStatus", failed));
}

TEST_F(ClientRun, AFailedCommitSkipsTheWait) {
  server.onAlways("POST", "/oauth2/token", jsonAnswer(kToken));
  const char refused[] = R"({"code":40001,"message":"quota exceeded"})";
  server.onAlways("PUT", "/v2/translate", jsonAnswer(refused, 403));
  ProcessResult run = runClient(config("translatewaitfor"));
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(result(),
            R"({"code":"failed","message":"quota exceeded","data":{"fileitemid":"4242"}})");
  EXPECT_TRUE(server.requestsTo("/translate").empty());
  EXPECT_NE(run.err.find("] spend time: 0 seconds."), std::string::npos) << run.err;
}

// Gateway mode: the project is looked up while loading; every signed request must carry a
// signature the gateway can rebuild from what it received.
class GatewayRun : public ClientRun {
 protected:
  void SetUp() override {
    server.onAlways("POST", "/api/uaa/oauth/token",
                    jsonAnswer(R"({"access_token":"GW","token_type":"bearer"})"));
    server.onAlways("POST", "/oauth2/token", jsonAnswer(kToken));
    server.onAlways("PUT", "/v2/translate", jsonAnswer(kAccepted));
    server.onAlways("GET", "/translate", jsonAnswer(kFinished));
  }
  ProcessResult runGateway(const std::string& cmdType) {
    return runClient(config(cmdType).gateway(server.url(), "tenant-7", "org-9"));
  }

  // What the emulated gateway says of `request` ("" when it lets it through), which must carry
  // "x-project-id" when `projectId` is not empty. The gateway rebuilds the string to sign and
  // the signature with code of its own, and takes each nonce once.
  std::string gatewayVerdict(const RecordedRequest& request, const std::string& projectId) {
    return gateway.verify(request, platform::nowTicks() / 10000, projectId, !projectId.empty());
  }

  GatewayVerifier gateway{"key", "secret", "tenant-7"};
};

TEST_F(GatewayRun, EveryServiceRequestIsSignedWithTheLookedUpProject) {
  server.onAlways("GET", "/api/org-permission/v4/orgs/org-9/projects",
                  jsonAnswer(R"({"project":{"id":1024,"name":"p"}})"));
  ProcessResult run = runGateway("translatewaitfor");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(result(),
            R"({"code":"success","message":"job accepted","data":{"fileitemid":"4242"}})");

  std::vector<RecordedRequest> requests = server.requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[0].path(), "/api/uaa/oauth/token");
  EXPECT_FALSE(requests[0].hasHeader("x-ca-key"));
  EXPECT_EQ(requests[0].body, "grant_type=client_credentials&client_id=key&client_secret=secret");

  const RecordedRequest& lookup = requests[1];
  EXPECT_EQ(lookup.target, "/api/org-permission/v4/orgs/org-9/projects?includeExtendData=false");
  EXPECT_EQ(lookup.header("Authorization"), "bearer GW");
  EXPECT_FALSE(lookup.hasHeader("x-project-id"));
  EXPECT_EQ(gatewayVerdict(lookup, ""), "");

  EXPECT_EQ(requests[2].target, "/oauth2/token?credential=a2V5OnNlY3JldA==");
  for (size_t i = 2; i < requests.size(); ++i) {
    EXPECT_EQ(gatewayVerdict(requests[i], "1024"), "") << requests[i].target;
  }
}

TEST_F(GatewayRun, WithoutAProjectTheSignedRequestsCarryNoProjectLine) {
  server.onAlways("GET", "/api/org-permission/v4/orgs/org-9/projects",
                  jsonAnswer(R"({"project":[{"id":1024}]})"));
  ProcessResult run = runGateway("translate");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(result(),
            R"({"code":"success","message":"job accepted","data":{"fileitemid":"4242"}})");
  std::vector<RecordedRequest> commits = server.requestsTo("/v2/translate");
  ASSERT_EQ(commits.size(), 1u);
  EXPECT_FALSE(commits[0].hasHeader("x-project-id"));
  EXPECT_EQ(gatewayVerdict(commits[0], ""), "");
  EXPECT_NE(run.out.find("getMarluneAccessToken CURLOPT_WRITEFUNCTION out:\n"
                         R"({"project":[{"id":1024}]})"),
            std::string::npos);
}

}  // namespace
