// The project lookup against a recording server on 127.0.0.1 that plays both the
// gateway's token endpoint and its organisation API.
#include "credentials/project_lookup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "service/gateway_verifier.h"
#include "support/capture.h"
#include "support/curl_global.h"
#include "support/fake_clock.h"
#include "support/log_capture.h"
#include "support/test_server.h"

using testing_support::droppedAnswer;
using testing_support::jsonAnswer;
using testing_support::TestServer;

namespace {

const char kTokenPath[] = "/api/uaa/oauth/token";
const char kProjectsPath[] = "/api/org-permission/v4/orgs/org-9/projects";

// The fields of a job that the lookup reads.
struct LookupJob {
  std::string lookupProjectId() const {
    return findProjectId(ProjectLookup{accountUrl, gatewayTokenUrl, projectUrl, orgId},
                         GatewayIdentity{appKey, appSecret, tenantId, projectId});
  }

  std::string accountUrl;
  std::string gatewayTokenUrl;
  std::string projectUrl;
  std::string orgId;
  std::string appKey;
  std::string appSecret;
  std::string tenantId;
  std::string projectId;
};

class ProjectLookupTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing_support::initCurlGlobal(); }

  void SetUp() override {
    server.onAlways("POST", kTokenPath, jsonAnswer("{\"access_token\":\"gw-token\"}"));
  }

  LookupJob job() const {
    LookupJob job;
    job.accountUrl = server.url();
    job.gatewayTokenUrl = kTokenPath;
    job.projectUrl = "/api/org-permission/v4/orgs/{org-id}/projects?includeExtendData=false";
    job.orgId = "org-9";
    job.appKey = "app+key";
    job.appSecret = "app/secret=";
    return job;
  }

  // The id looked up when the organisation API answers with `body`.
  std::string idFor(const std::string& body) {
    server.onAlways("GET", kProjectsPath, jsonAnswer(body));
    testing_support::CoutCapture capture;
    return job().lookupProjectId();
  }

  TestServer server;
};

}  // namespace

TEST_F(ProjectLookupTest, ReadsAnUnsignedIntegerIdOfTheProjectObject) {
  EXPECT_EQ(idFor("{\"project\":{\"name\":\"p\",\"id\":1024},\"total\":1}"), "1024");
  EXPECT_EQ(idFor("{\"project\":{\"id\":0}}"), "0");
  EXPECT_EQ(idFor("{\"project\":{\"id\":18446744073709551615}}"), "18446744073709551615");
  EXPECT_EQ(idFor("{\"project\":{\"id\":18446744073709551616}}"), "");
  EXPECT_EQ(idFor("{\"project\":{\"id\":\"1024\"}}"), "");
  EXPECT_EQ(idFor("{\"project\":{\"id\":-5}}"), "");
  EXPECT_EQ(idFor("{\"project\":{\"id\":1024.0}}"), "");
  EXPECT_EQ(idFor("{\"project\":{\"id\":1e3}}"), "");
  EXPECT_EQ(idFor("{\"project\":[{\"id\":1024}]}"), "");
  EXPECT_EQ(idFor("{\"id\":1024}"), "");
  EXPECT_EQ(idFor("[{\"project\":{\"id\":1024}}]"), "");
  EXPECT_EQ(idFor(""), "");
}

TEST_F(ProjectLookupTest, SendsTheBearerLineAndJsonTypeWithoutGatewayLines) {
  server.onAlways("GET", kProjectsPath, jsonAnswer("{\"project\":{\"id\":5}}"));
  testing_support::CoutCapture capture;
  EXPECT_EQ(job().lookupProjectId(), "5");

  ASSERT_EQ(server.requestsTo(kTokenPath).size(), 1u);
  std::vector<RecordedRequest> sent = server.requestsTo(kProjectsPath);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].method, "GET");
  EXPECT_EQ(sent[0].target, "/api/org-permission/v4/orgs/org-9/projects?includeExtendData=false");
  std::vector<std::string> own(sent[0].headers.end() - 2, sent[0].headers.end());
  EXPECT_EQ(own, (std::vector<std::string>{"Authorization:bearer gw-token",
                                           "Content-Type: application/json"}));
  for (const std::string& line : sent[0].headers) EXPECT_NE(line.compare(0, 2, "x-"), 0) << line;

  const std::string out = capture.text();
  size_t token = out.find("getGatewayToken CURLOPT_WRITEFUNCTION out:\n");
  size_t body = out.find(
      "getMarluneAccessToken CURLOPT_WRITEFUNCTION out:\n"
      "{\"project\":{\"id\":5}}\ngetMarluneAccessToken CURLOPT_HEADERFUNCTION "
      "out:\nHTTP/1.1 200");
  ASSERT_NE(token, std::string::npos) << out;
  ASSERT_NE(body, std::string::npos) << out;
  EXPECT_LT(token, body);
}

TEST_F(ProjectLookupTest, AnUnusableGatewayTokenLeavesTheBearerEmpty) {
  server.onAlways("POST", kTokenPath, jsonAnswer("{\"access_token\":\"t\\r\\nX-Evil: 1\"}"));
  server.onAlways("GET", kProjectsPath, jsonAnswer("{\"project\":{\"id\":6}}"));
  testing_support::CoutCapture capture;
  EXPECT_EQ(job().lookupProjectId(), "6");
  std::vector<RecordedRequest> sent = server.requestsTo(kProjectsPath);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_FALSE(sent[0].hasHeader("X-Evil"));
  EXPECT_NE(std::find(sent[0].headers.begin(), sent[0].headers.end(), "Authorization:bearer "),
            sent[0].headers.end());
}

TEST_F(ProjectLookupTest, PutsTheOrgIdIntoEveryPlaceholderOnce) {
  server.onAlways("GET", "/orgs/{org-id}x/sub/{org-id}x", jsonAnswer("{\"project\":{\"id\":7}}"));
  LookupJob request = job();
  request.projectUrl = "/orgs/{org-id}/sub/{org-id}";
  request.orgId = "{org-id}x";
  testing_support::CoutCapture capture;
  EXPECT_EQ(request.lookupProjectId(), "7");
  EXPECT_EQ(server.requestsTo("/orgs/{org-id}x/sub/{org-id}x").size(), 1u);
}

TEST_F(ProjectLookupTest, MakesNoRequestWithoutItsInputsOrWhenTheIdIsKnown) {
  LookupJob known = job();
  known.projectId = "99";
  LookupJob noOrg = job();
  noOrg.orgId.clear();
  LookupJob noAccount = job();
  noAccount.accountUrl.clear();
  LookupJob noTokenPath = job();
  noTokenPath.gatewayTokenUrl.clear();
  LookupJob noProjectUrl = job();
  noProjectUrl.projectUrl.clear();

  testing_support::CoutCapture capture;
  EXPECT_EQ(known.lookupProjectId(), "99");
  EXPECT_EQ(noOrg.lookupProjectId(), "");
  EXPECT_EQ(noAccount.lookupProjectId(), "");
  EXPECT_EQ(noTokenPath.lookupProjectId(), "");
  EXPECT_EQ(noProjectUrl.lookupProjectId(), "");
  EXPECT_TRUE(server.requests().empty());
  EXPECT_EQ(capture.text(), "");
}

TEST_F(ProjectLookupTest, SignsTheFixedQueryAndDropsTheEmptyProjectLine) {
  const std::string path = "/orgs/org-9/projects";
  server.onAlways("GET", path, jsonAnswer("{\"project\":{\"id\":8}}"));
  LookupJob request = job();
  request.projectUrl = "/orgs/{org-id}/projects?page=2&includeExtendData=true";
  request.tenantId = "tenant-1";
  testing_support::CoutCapture capture;
  EXPECT_EQ(request.lookupProjectId(), "8");

  std::vector<RecordedRequest> sent = server.requestsTo(path);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].query(), "page=2&includeExtendData=true");
  std::vector<std::string> names;
  for (const std::string& line : sent[0].headers) {
    if (line.compare(0, 2, "x-") == 0 || line.compare(0, 14, "Authorization:") == 0 ||
        line.compare(0, 13, "Content-Type:") == 0) {
      names.push_back(line.substr(0, line.find(':')));
    }
  }
  EXPECT_EQ(names, (std::vector<std::string>{
                       "Authorization", "Content-Type", "x-ca-key", "x-ca-nonce", "x-ca-signature",
                       "x-ca-signature-headers", "x-ca-timestamp", "x-tenant-id"}));
  EXPECT_FALSE(sent[0].hasHeader("x-project-id"));
  EXPECT_EQ(sent[0].header("x-ca-key"), "app+key");
  EXPECT_EQ(sent[0].header("x-tenant-id"), "tenant-1");
  EXPECT_EQ(sent[0].header("x-ca-signature-headers"), "x-ca-key,x-ca-nonce,x-ca-timestamp");

  const std::string toSign = "GET\nx-ca-key:app+key\nx-ca-nonce:" + sent[0].header("x-ca-nonce") +
                             "\nx-ca-timestamp:" + sent[0].header("x-ca-timestamp") + "\n" + path +
                             "?includeExtendData=false";
  EXPECT_EQ(sent[0].header("x-ca-signature"), GatewayVerifier::signature("app/secret=", toSign));
  EXPECT_FALSE(server.requestsTo(kTokenPath)[0].hasHeader("x-ca-key"));
}

TEST_F(ProjectLookupTest, TransportFailureGivesNoIdAndPrintsNoLookupBlocks) {
  server.onAlways("GET", kProjectsPath, droppedAnswer());
  testing_support::FakeClock clock(17000000001234567);
  testing_support::ScopedTimeSource useClock(&clock);
  testing_support::CoutCapture capture;
  testing_support::LogCapture log;
  EXPECT_EQ(job().lookupProjectId(), "");
  EXPECT_EQ(log.count(" connect failed!!! max retry 32"), 1u);
  EXPECT_EQ(capture.text().find("getMarluneAccessToken"), std::string::npos);
}

// In gateway mode a lookup that yields no id says why in one ERROR line, the texts of the
// answers bounded and on one line; the token's refusal comes first. Outside it, no line.
TEST_F(ProjectLookupTest, InGatewayModeOneErrorLineSaysWhyNoIdWasFound) {
  const std::string refusal =
      R"({"error":"invalid_client","error_description":"bad\r\n)" + std::string(300, 'x') + "\"}";
  const std::string token = R"({"access_token":"gw"})";
  const std::vector<std::vector<std::string>> cases = {
      // token, projects ("" drops), reason
      {refusal, "{}",
       "the gateway token was refused (error: invalid_client, error_description: bad\\x0d\\x0a" +
           std::string(195, 'x') + "...)"},
      {"[]", "{}", "the gateway token answer is not a JSON object"},
      {token, R"({"code":404,"message":"unknown org-9"})",
       R"(the project list answer has no "project" object (code: 404, message: unknown org-9))"},
      {token, "", "lookupProjectId failed: Empty reply from server"}};
  testing_support::FakeClock clock(17000000001234567);
  testing_support::ScopedTimeSource useClock(&clock);
  testing_support::CoutCapture capture;
  LookupJob gateway = job();
  gateway.tenantId = "tenant-1";
  for (const std::vector<std::string>& c : cases) {
    server.onAlways("POST", kTokenPath, jsonAnswer(c[0]));
    server.onAlways("GET", kProjectsPath, c[1].empty() ? droppedAnswer() : jsonAnswer(c[1]));
    testing_support::LogCapture log;
    EXPECT_EQ(job().lookupProjectId(), "");
    EXPECT_EQ(gateway.lookupProjectId(), "");
    ASSERT_EQ(log.count("project lookup found no project id"), 1u) << c[2];
    const testing_support::LogLine last = log.lines().back();
    EXPECT_EQ(last.text, "project lookup found no project id: " + c[2]);
    EXPECT_EQ(last.line, 151);
    EXPECT_EQ(last.severity, google::GLOG_ERROR);
  }
}
