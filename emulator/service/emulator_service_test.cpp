// The emulated endpoints, called directly with a clock that the tests move.
#include "service/emulator_service.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>

#include "support/emulator_test_support.h"
#include "support/fake_clock.h"
#include "support/file_util.h"
#include "support/time_zone.h"
#include "util/base64.h"
#include "util/json.h"

using emulator_test::clientSigned;
using emulator_test::withHeader;

namespace {

const int64_t kStartTicks = 17000000000000000;  // 2023-11-14 22:13:20 UTC
const int64_t kSecondTicks = 10000000;

class EmulatorServiceTest : public ::testing::Test {
 protected:
  // "expireTime" is local time; the expected texts are written for UTC.
  static void SetUpTestSuite() {
    const char* tz = std::getenv("TZ");
    savedTz_ = tz != nullptr ? new std::string(tz) : nullptr;
    testing_support::setTimeZone("UTC");
  }
  static void TearDownTestSuite() {
    testing_support::setTimeZone(savedTz_ != nullptr ? *savedTz_ : "");
    delete savedTz_;
  }

  EmulatorServiceTest() { EXPECT_TRUE(log.openFile(logPath)); }

  void start() {
    service = std::make_unique<EmulatorService>(options, log,
                                                [] { return platform::nowTicks() / 10000; });
  }

  EmulatorResponse send(const std::string& method, const std::string& target,
                        std::vector<std::pair<std::string, std::string>> headers = {},
                        const std::string& body = "") {
    RecordedRequest request;
    request.method = method;
    request.target = target;
    for (const auto& header : headers)
      request.headers.push_back(header.first + ":" + header.second);
    request.body = body;
    return service->handle(request);
  }

  std::string basic() const {
    return "Basic " + base64Encode(options.appKey + ":" + options.appSecret);
  }

  // A new service token, taken from a successful answer.
  std::string serviceToken() {
    EmulatorResponse response = send("POST", "/oauth2/token", {{"Authorization", basic()}});
    rapidjson::Document doc;
    if (!parseJson(response.body, doc) || !doc.IsObject() || !doc.HasMember("data")) return "";
    return doc["data"]["token"].GetString();
  }

  std::string gatewayToken() {
    EmulatorResponse response = send("POST", "/api/uaa/oauth/token", {},
                                     "grant_type=client_credentials&client_id=" + options.clientId +
                                         "&client_secret=" + options.clientSecret);
    rapidjson::Document doc;
    if (!parseJson(response.body, doc) || !doc.IsObject() || !doc.HasMember("access_token")) {
      return "";
    }
    return doc["access_token"].GetString();
  }

  static std::string* savedTz_;
  testing_support::FakeTime time{kStartTicks};
  std::string logPath = testing_support::makeTempDir() + "/emulator.log";
  EmulatorLog log;
  EmulatorOptions options;
  std::unique_ptr<EmulatorService> service;
};

std::string* EmulatorServiceTest::savedTz_ = nullptr;

TEST_F(EmulatorServiceTest, IssuesServiceTokensForTheApplicationCredential) {
  options.tokenLifetime = 90;
  start();
  EmulatorResponse response = send("POST", "/oauth2/token", {{"Authorization", basic()}});
  EXPECT_EQ(response.status, 200);
  rapidjson::Document doc;
  ASSERT_TRUE(parseJson(response.body, doc)) << response.body;
  EXPECT_STREQ(doc["code"].GetString(), "success");
  EXPECT_STREQ(doc["data"]["expireTime"].GetString(), "2023-11-14 22:14:50");
  EXPECT_EQ(std::string(doc["data"]["token"].GetString()).size(), 40u);

  // In gateway mode the credential also comes as an unencoded query parameter.
  std::string credential = base64Encode(options.appKey + ":" + options.appSecret);
  EXPECT_EQ(
      send("POST", "/oauth2/token?credential=" + credential, {{"Authorization", basic()}}).status,
      200);
  EXPECT_EQ(
      send("POST", "/oauth2/token?credential=x" + credential, {{"Authorization", basic()}}).body,
      R"({"code":401,"message":"credential parameter does not match the Authorization header"})");

  const char* wrong = R"({"code":401,"message":"invalid application key or secret"})";
  EXPECT_EQ(send("POST", "/oauth2/token").body, wrong);
  EXPECT_EQ(send("POST", "/oauth2/token",
                 {{"Authorization", "Basic " + base64Encode(options.appKey + ":nope")}})
                .body,
            wrong);
  EXPECT_EQ(send("POST", "/oauth2/token", {{"Authorization", "Bearer " + credential}}).status, 401);
  EXPECT_EQ(send("GET", "/oauth2/token", {{"Authorization", basic()}}).body,
            R"({"code":405,"message":"use POST for /oauth2/token"})");
}

TEST_F(EmulatorServiceTest, RunsTranslateJobsForTheirDuration) {
  options.jobDuration = 6;
  options.failFileIds = {13};
  start();
  std::string bearer = "Bearer " + serviceToken();
  EXPECT_EQ(send("PUT", "/v2/translate", {{"Authorization", bearer}},
                 R"({"target":"de","source":{"fileId":12}})")
                .body,
            R"({"code":"success","message":"translate job accepted for file 12"})");
  EXPECT_EQ(send("PUT", "/v2/translate", {{"Authorization", bearer}}, R"({"source":{"fileId":13}})")
                .status,
            200);

  const char* processing =
      R"({"code":"success","message":"translation in progress","data":{"status":"processing"}})";
  EXPECT_EQ(send("GET", "/translate?fileId=12", {{"Authorization", bearer}}).body, processing);
  time.advanceTicks(6 * kSecondTicks - 1);
  EXPECT_EQ(send("GET", "/translate?fileId=12", {{"Authorization", bearer}}).body, processing);
  time.advanceTicks(1);
  EXPECT_EQ(send("GET", "/translate?fileId=12", {{"Authorization", bearer}}).body,
            R"({"code":"success","message":"translation finished","data":{"status":"success"}})");
  EXPECT_EQ(
      send("GET", "/translate?fileId=13", {{"Authorization", bearer}}).body,
      R"({"code":"success","message":"translation failed for file 13","data":{"status":"failed"}})");
  EXPECT_EQ(send("GET", "/translate?fileId=14", {{"Authorization", bearer}}).body,
            R"({"code":404,"message":"no translate job for file 14"})");
  EXPECT_EQ(send("GET", "/translate?fileId=1x", {{"Authorization", bearer}}).body,
            R"({"code":400,"message":"an integer fileId parameter is required"})");

  // Submitting the same file again starts its job anew.
  EXPECT_EQ(send("PUT", "/v2/translate", {{"Authorization", bearer}}, R"({"source":{"fileId":12}})")
                .status,
            200);
  EXPECT_EQ(send("GET", "/translate?fileId=12", {{"Authorization", bearer}}).body, processing);
}

TEST_F(EmulatorServiceTest, TranslateNeedsAValidTokenAndAnIntegerFileId) {
  options.tokenLifetime = 10;
  start();
  std::string body = R"({"source":{"fileId":5}})";
  EXPECT_EQ(send("PUT", "/v2/translate", {{"Authorization", "Bearer "}}, body).body,
            R"({"code":401,"message":"access token missing"})");
  EXPECT_EQ(send("PUT", "/v2/translate", {{"Authorization", "Bearer svc-made-up"}}, body).body,
            R"({"code":401,"message":"access token unknown"})");
  std::string bearer = "Bearer " + serviceToken();
  const char* badBody = R"({"code":400,"message":"request body needs an integer source.fileId"})";
  for (const char* bad :
       {R"({"source":{"fileId":"5"}})", R"({"source":{"fileId":5.5}})", R"({"fileId":5})", "[5]",
        "", R"({"source":{"fileId":18446744073709551615}})"}) {
    EXPECT_EQ(send("PUT", "/v2/translate", {{"Authorization", bearer}}, bad).body, badBody) << bad;
  }
  EXPECT_EQ(send("PUT", "/v2/translate", {{"Authorization", bearer}}, body).status, 200);
  // Valid until its last second has passed, as the client counts.
  time.advanceTicks(10 * kSecondTicks - 1);
  EXPECT_EQ(send("GET", "/translate?fileId=5", {{"Authorization", bearer}}).status, 200);
  time.advanceTicks(1);
  EXPECT_EQ(send("GET", "/translate?fileId=5", {{"Authorization", bearer}}).body,
            R"({"code":401,"message":"access token expired"})");
  // An expired token is dropped once a new one is issued.
  EXPECT_EQ(service->keptTokens(), 1u);
  serviceToken();
  EXPECT_EQ(service->keptTokens(), 1u);
}

TEST_F(EmulatorServiceTest, GatewayTokenAndProjectLookup) {
  options.appSecret = "s&e=c+r/et";
  options.clientId = "client";
  options.clientSecret = "c&l=i+ent";
  start();
  EmulatorResponse token =
      send("POST", "/api/uaa/oauth/token", {},
           "grant_type=client_credentials&client_id=client&client_secret=c&l=i+ent");
  EXPECT_EQ(token.status, 200);
  rapidjson::Document doc;
  ASSERT_TRUE(parseJson(token.body, doc));
  EXPECT_STREQ(doc["token_type"].GetString(), "bearer");
  EXPECT_EQ(doc["expires_in"].GetInt(), 3600);
  std::string bearer = std::string("bearer ") + doc["access_token"].GetString();

  EXPECT_EQ(send("POST", "/api/uaa/oauth/token", {},
                 "grant_type=client_credentials&client_id=client&client_secret=wrong")
                .body,
            R"({"error":"invalid_client","error_description":"bad client id or secret"})");
  EXPECT_EQ(send("POST", "/api/uaa/oauth/token", {}, "grant_type=password&client_id=client").status,
            400);

  std::string projects = "/api/org-permission/v4/orgs/demo-org/projects?includeExtendData=false";
  EXPECT_EQ(send("GET", projects, {{"Authorization", bearer}}).body,
            R"({"project":{"id":1024,"name":"Emulated project"}})");
  EXPECT_EQ(
      send("GET", "/api/org-permission/v4/orgs/other/projects", {{"Authorization", bearer}}).body,
      R"({"code":404,"message":"unknown organisation other"})");
  EXPECT_EQ(send("GET", projects, {{"Authorization", "bearer "}}).body,
            R"({"code":401,"message":"gateway token missing"})");
  // The service's tokens are no gateway tokens.
  EXPECT_EQ(send("GET", projects, {{"Authorization", "bearer " + serviceToken()}}).body,
            R"({"code":401,"message":"gateway token unknown"})");
}

TEST_F(EmulatorServiceTest, WithATenantEveryServiceRequestMustBeSigned) {
  options.appKey = "key-1";
  options.appSecret = "secret+/=&1";
  options.tenant = "tenant-7";
  start();
  EXPECT_EQ(send("POST", "/oauth2/token", {{"Authorization", basic()}}).body,
            R"({"code":401,"message":"gateway check failed: x-ca-key missing"})");
  // The gateway's own token endpoint is never signed.
  std::string gateway = gatewayToken();
  ASSERT_FALSE(gateway.empty());

  GatewayIdentity job = emulator_test::gatewayIdentity("1024");
  std::string credential = base64Encode("key-1:secret+/=&1");
  auto signedTokenRequest = [&] {
    RecordedRequest request = clientSigned("POST", "/oauth2/token?credential=" + credential,
                                           {{"credential", credential}}, job);
    request.headers.push_back("Authorization:" + basic());
    return request;
  };
  RecordedRequest tokenRequest = signedTokenRequest();
  EXPECT_EQ(service->handle(tokenRequest).status, 200);
  EXPECT_EQ(service->handle(tokenRequest).body,
            R"({"code":401,"message":"gateway check failed: x-ca-nonce replayed"})");

  // Signed requests must name the project, whatever came before; only the lookup may not.
  job.projectId.clear();
  RecordedRequest lookup =
      clientSigned("GET", "/api/org-permission/v4/orgs/demo-org/projects?includeExtendData=false",
                   {{"includeExtendData", "false"}}, job);
  lookup.headers.push_back("Authorization:bearer " + gateway);
  EXPECT_EQ(service->handle(lookup).status, 200);
  EXPECT_EQ(service->handle(signedTokenRequest()).body,
            R"({"code":401,"message":"gateway check failed: x-project-id missing"})");
  options.projectIdOptional = true;
  start();
  EXPECT_EQ(service->handle(signedTokenRequest()).status, 200);

  std::string logText = testing_support::readFile(logPath);
  EXPECT_NE(logText.find("gateway check failed: x-ca-nonce replayed (POST /oauth2/token)"),
            std::string::npos)
      << logText;
}

TEST_F(EmulatorServiceTest, WithoutATenantSignedRequestsAreStillChecked) {
  options.appKey = "key-1";
  options.appSecret = "secret+/=&1";
  start();
  std::string bearer = "Bearer " + serviceToken();
  RecordedRequest commit =
      clientSigned("PUT", "/v2/translate", {}, emulator_test::gatewayIdentity("1024"));
  commit.headers.push_back("Authorization:" + bearer);
  commit.body = R"({"source":{"fileId":1}})";
  EXPECT_EQ(service->handle(withHeader(commit, "x-ca-signature", "AAAA")).body,
            R"({"code":401,"message":"gateway check failed: x-ca-signature mismatch"})");
  EXPECT_EQ(service->handle(commit).status, 200);
}

TEST_F(EmulatorServiceTest, InjectedFaultsComeFirstAndRunOut) {
  options.dropConnections = 1;
  options.errorAnswers = 1;
  start();
  RecordedRequest token;
  token.method = "POST";
  token.target = "/oauth2/token";
  token.headers = {"Authorization:" + basic()};
  // Only the first request of a connection is dropped.
  EmulatorResponse error = service->handle(token, Arrival{1, 2});
  EXPECT_EQ(error.status, 500);
  EXPECT_EQ(error.body, R"({"code":500,"message":"emulated server error"})");
  EXPECT_EQ(service->handle(token, Arrival{2, 1}).delivery.kind, Delivery::Kind::kDrop);
  EmulatorResponse issued = service->handle(token, Arrival{3, 1});
  EXPECT_EQ(issued.status, 200);
  EXPECT_EQ(issued.delivery.kind, Delivery::Kind::kNormal);
  EXPECT_EQ(send("GET", "/nowhere").body, R"({"code":404,"message":"no such endpoint: /nowhere"})");
  EXPECT_EQ(testing_support::countOf(testing_support::readFile(logPath),
                                     " POST /oauth2/token -> connection dropped\n"),
            1u);
}

// A fault for one file counts that file's status requests only, so parallel clients on other
// files neither meet it nor move it on.
TEST_F(EmulatorServiceTest, AFaultForAFileCountsOnlyItsRequests) {
  start();
  Scenario scenario;
  std::string error;
  ASSERT_TRUE(parseScenario(R"({"jobs": {"21": ["success"], "22": ["success"]},
      "faults": [{"endpoint": "status", "fileId": "21", "request": 2, "action": "drop"}]})",
                            scenario, error))
      << error;
  service->useScenario(scenario);
  const std::string bearer = "Bearer " + serviceToken();
  auto poll = [&](const char* file) {
    return send("GET", std::string("/translate?fileId=") + file, {{"Authorization", bearer}})
        .delivery.kind;
  };
  EXPECT_EQ(poll("21"), Delivery::Kind::kNormal);
  EXPECT_EQ(poll("22"), Delivery::Kind::kNormal);
  EXPECT_EQ(poll("22"), Delivery::Kind::kNormal);
  EXPECT_EQ(poll("21"), Delivery::Kind::kDrop);
  EXPECT_EQ(poll("21"), Delivery::Kind::kNormal);
}

TEST_F(EmulatorServiceTest, LogsEveryRequestWithoutSecretsOrTokens) {
  options.appSecret = "very-secret-value";
  start();
  std::string credential = base64Encode(options.appKey + ":" + options.appSecret);
  std::string token = serviceToken();
  send("POST", "/oauth2/token?credential=" + credential + "&x=1", {{"Authorization", basic()}});
  send("PUT", "/v2/translate", {{"Authorization", "Bearer " + token}},
       R"({"source":{"fileId":3}})");
  std::string gateway = gatewayToken();
  // A client that sends the gateway's secret in the query instead of the form.
  send("POST", "/api/uaa/oauth/token?client_secret=" + options.appSecret + "&x=1");
  std::string logText = testing_support::readFile(logPath);
  const std::string journal = send("GET", "/__emulator/requests").body;
  for (const std::string& hidden : {options.appSecret, credential, token, gateway}) {
    EXPECT_EQ(logText.find(hidden), std::string::npos) << hidden << " in\n" << logText;
    EXPECT_EQ(journal.find(hidden), std::string::npos) << hidden << " in\n" << journal;
  }
  EXPECT_NE(logText.find(" POST /api/uaa/oauth/token?client_secret=***&x=1 -> 400"),
            std::string::npos)
      << logText;
  EXPECT_NE(logText.find(" POST /oauth2/token?credential=***&x=1 -> 200 (token issued, expires "),
            std::string::npos)
      << logText;
  EXPECT_NE(logText.find(" PUT /v2/translate -> 200 (job for file 3 started)\n"), std::string::npos)
      << logText;
  EXPECT_NE(logText.find(" POST /api/uaa/oauth/token -> 200 (gateway token issued)\n"),
            std::string::npos)
      << logText;
}

// Faults by chance come up the same for the same seed and request order: again after a reset
// and after the scenario is replaced, otherwise for another seed. A fault by rhythm hits every
// n-th request, here with a header a client is to follow.
TEST_F(EmulatorServiceTest, SeededFaultsRepeatAndRhythmicOnesKeepTime) {
  start();
  const std::string scenario = R"({"seed": SEED, "jobs": {"8": ["success"]}, "faults": [
      {"endpoint": "status", "request": 1, "probability": 0.5, "action": "drop"},
      {"endpoint": "token", "request": 1, "every": 3, "action": "status", "status": 503,
       "body": "busy", "headers": {"Retry-After": "3"}}]})";
  auto follow = [&](const std::string& seed) {
    std::string text = scenario;
    text.replace(text.find("SEED"), 4, seed);
    EXPECT_EQ(send("PUT", "/__emulator/scenario", {}, text).status, 200);
  };
  auto dropsOf40Polls = [&] {
    std::string bearer = "Bearer " + serviceToken();
    std::string drops;
    for (int i = 0; i < 40; ++i) {
      const Delivery::Kind kind =
          send("GET", "/translate?fileId=8", {{"Authorization", bearer}}).delivery.kind;
      drops += kind == Delivery::Kind::kDrop ? 'x' : '.';
    }
    return drops;
  };
  follow("7");
  const std::string first = dropsOf40Polls();
  EXPECT_NE(first.find('x'), std::string::npos);
  EXPECT_NE(first.find('.'), std::string::npos);
  send("POST", "/__emulator/reset");
  EXPECT_EQ(dropsOf40Polls(), first);
  follow("7");
  EXPECT_EQ(dropsOf40Polls(), first);
  follow("8");
  EXPECT_NE(dropsOf40Polls(), first);

  follow("7");
  EXPECT_EQ(send("POST", "/oauth2/token", {{"Authorization", basic()}}).status, 200);
  EXPECT_EQ(send("POST", "/oauth2/token", {{"Authorization", basic()}}).status, 200);
  const EmulatorResponse busy = send("POST", "/oauth2/token", {{"Authorization", basic()}});
  EXPECT_EQ(busy.status, 503);
  EXPECT_EQ(busy.headers, std::vector<std::string>{"Retry-After: 3"});
  const std::string logText = testing_support::readFile(logPath);
  EXPECT_NE(logText.find("(fault: drop (chance 0.5))"), std::string::npos) << logText;
  EXPECT_NE(logText.find(", seed 7\n"), std::string::npos) << logText;
}

// A step with seconds answers every query within them from the first that got it; the next
// step begins as it ends.
TEST_F(EmulatorServiceTest, TimedJobStepsRunOnTheClock) {
  start();
  Scenario scenario;
  std::string reason;
  ASSERT_TRUE(parseScenario(R"({"jobs": {"5": ["processing",
      {"status": "processing", "seconds": 30}, {"status": "failed", "message": "late",
      "seconds": 10}, "success"]}})",
                            scenario, reason))
      << reason;
  service->useScenario(scenario);
  const std::string bearer = "Bearer " + serviceToken();
  auto poll = [&] {
    rapidjson::Document doc;
    parseJson(send("GET", "/translate?fileId=5", {{"Authorization", bearer}}).body, doc);
    return std::string(doc["data"]["status"].GetString());
  };
  EXPECT_EQ(poll(), "processing");  // the first step, one query
  EXPECT_EQ(poll(), "processing");  // the timed one begins
  time.advanceTicks(30 * kSecondTicks - 1);
  EXPECT_EQ(poll(), "processing");
  time.advanceTicks(1);
  EXPECT_EQ(poll(), "failed");
  time.advanceTicks(25 * kSecondTicks);  // past the failed step's end
  EXPECT_EQ(poll(), "success");
  EXPECT_EQ(poll(), "success");
}

}  // namespace
