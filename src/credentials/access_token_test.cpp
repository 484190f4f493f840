#include "credentials/access_token.h"

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support/capture.h"
#include "support/curl_global.h"
#include "support/fake_clock.h"
#include "support/log_capture.h"
#include "support/service_fixtures.h"
#include "support/test_server.h"

using namespace testing_support;

namespace {

const char kTokenPath[] = "/oauth2/token";

// The token fields of a job, asking for tokens the way the job does.
struct TokenHolder {
  // The token to send; what the call said besides in `got`.
  std::string getMarluneAccessToken() {
    got = obtainServiceToken(tokenUrl, identity, accessToken, tokenExpiry);
    return got.token;
  }

  std::string tokenUrl;
  GatewayIdentity identity;
  std::string accessToken;
  int64_t tokenExpiry = 0;
  ServiceToken got;
};

class AccessTokenTest : public ::testing::Test {
 protected:
  AccessTokenTest() : clock(ticksAtNewYear2030()), timeSource(&clock) {
    initCurlGlobal();
    job.tokenUrl = server.url() + kTokenPath;
    job.identity.appKey = "key";
    job.identity.appSecret = "secret";
    job.tokenExpiry = clock.nowTicks();  // as at the start of a run
  }

  // Answers the token request with `body` and asks for a token once.
  std::string fetchWith(const std::string& body) {
    server.onAlways("POST", kTokenPath, jsonAnswer(body));
    return job.getMarluneAccessToken();
  }

  TestServer server;
  FakeClock clock;
  ScopedTimeSource timeSource;
  TokenHolder job;
};

}  // namespace

TEST(ParseExpireTime, ReadsDateAndTimeLeniently) {
  const int64_t eight = platform::localTimeToSeconds(2030, 1, 1, 8, 0, 0);
  for (const char* text : {"2030-01-01 08:00:00", " \t2030-01-01 08:00:00", "2030-01-0108:00:00",
                           "2030-01-01 \t\n 08:00:00", "2030-01-01 08:00:00.500",
                           "2030-01-01 08:00:00Z junk", "2030-1-1 8:0:0"}) {
    int64_t seconds = 0;
    EXPECT_TRUE(parseExpireTime(text, seconds)) << text;
    EXPECT_EQ(seconds, eight) << text;
  }
  int64_t leap = 0;
  EXPECT_TRUE(parseExpireTime("2030-01-01 08:00:60", leap));
  EXPECT_EQ(leap, eight + 60);
  int64_t later = 0;
  EXPECT_TRUE(parseExpireTime("2030-12-31 23:59:59", later));
  EXPECT_EQ(later, platform::localTimeToSeconds(2030, 12, 31, 23, 59, 59));
}

TEST(ParseExpireTime, RejectsOtherFormsAndLeavesTheResultAlone) {
  for (const char* text :
       {"", "   ", "2030/01/01 08:00:00", "2030-01-01T08:00:00", "2030-13-01 08:00:00",
        "2030-00-01 08:00:00", "2030-01-32 08:00:00", "2030-01-00 08:00:00", "2030-01-01 24:00:00",
        "2030-01-01 08:60:00", "2030-01-01 08:00:61", "2030-01-01 08:00",
        "2030-01-01 08:00:", "2030-01-01", "x2030-01-01 08:00:00", "-2030-01-01 08:00:00",
        "2030-001-01 08:00:00", "2030-01-01 08.00.00"}) {
    int64_t seconds = 42;
    EXPECT_FALSE(parseExpireTime(text, seconds)) << text;
    EXPECT_EQ(seconds, 42) << text;
  }
}

TEST_F(AccessTokenTest, KeptTokenServesWhileAWholeSecondRemains) {
  server.onAlways("POST", kTokenPath, jsonAnswer(tokenAnswer("fresh", "2030-01-01 09:00:00")));
  job.accessToken = "kept";
  job.tokenExpiry = clock.nowTicks() + kSecond * 3 / 2;
  {
    CoutCapture out;
    EXPECT_EQ(job.getMarluneAccessToken(), "kept");
    EXPECT_EQ(out.text(), "");
  }
  EXPECT_TRUE(server.requests().empty());

  job.tokenExpiry = clock.nowTicks() + kSecond * 9 / 10;
  EXPECT_EQ(job.getMarluneAccessToken(), "fresh");
  EXPECT_EQ(server.requests().size(), 1u);

  job.accessToken.clear();
  job.tokenExpiry = clock.nowTicks() + kSecond * 86400;
  EXPECT_EQ(job.getMarluneAccessToken(), "fresh");
  EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(AccessTokenTest, PostsTheBasicCredentialAndKeepsTokenAndExpiry) {
  CoutCapture out;
  const std::string body = tokenAnswer("tok-1", "2030-01-01 09:00:00");
  EXPECT_EQ(fetchWith(body), "tok-1");
  EXPECT_EQ(job.accessToken, "tok-1");
  EXPECT_EQ(job.tokenExpiry, ticksAtNewYear2030(3600));
  EXPECT_EQ(job.got.reason, "");
  EXPECT_TRUE(job.got.fresh);

  std::vector<RecordedRequest> requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, kTokenPath);
  EXPECT_EQ(requests[0].body, "");
  const std::vector<std::string> expected = {
      "Host: 127.0.0.1:" + std::to_string(server.port()), "Accept: */*",
      "Authorization:Basic a2V5OnNlY3JldA==", "Content-Type: application/json"};
  EXPECT_EQ(requests[0].headers, expected);
  EXPECT_EQ(out.text().rfind(
                "getMarluneAccessToken CURLOPT_WRITEFUNCTION out:\n" + body +
                    "\ngetMarluneAccessToken CURLOPT_HEADERFUNCTION out:\nHTTP/1.1 200 OK\r\n",
                0),
            0u);

  // Within its life the token is reused without a request.
  clock.advanceMillis(3598 * 1000);
  EXPECT_EQ(job.getMarluneAccessToken(), "tok-1");
  EXPECT_FALSE(job.got.fresh);
  EXPECT_EQ(server.requests().size(), 1u);
}

// Any other answer gives no token, whatever token was kept, and says why.
TEST_F(AccessTokenTest, OnlyAnExactSuccessWithADataObjectStoresAToken) {
  job.accessToken = "old";
  const int64_t expiry = job.tokenExpiry;
  for (const char* body : {
           R"({"code":"Success","data":{"token":"new","expireTime":"2030-01-01 09:00:00"}})",
           R"({"code":"SUCCESS","data":{"token":"new","expireTime":"2030-01-01 09:00:00"}})",
           R"({"code":"success"})",
           R"({"code":"success","data":"token"})",
           R"({"code":"success","data":[{"token":"new"}]})",
           R"({"code":"failed","message":"no","data":{"token":"new"}})",
           R"({"code":1.5,"message":"no","data":{"token":"new"}})",
           R"({"code":4294967296,"message":"no","data":{"token":"new"}})",
           R"({"message":"no","data":{"token":"new"}})",
           R"({"code":"success","data":{"token":""}})",
           R"([{"code":"success","data":{"token":"new"}}])",
           "not json",
           "",
       }) {
    CoutCapture out;
    EXPECT_EQ(fetchWith(body), "") << body;
    EXPECT_EQ(job.accessToken, "old") << body;
    EXPECT_EQ(job.tokenExpiry, expiry) << body;
    EXPECT_TRUE(job.got.answered) << body;
    EXPECT_FALSE(job.got.passing) << body;
    EXPECT_EQ(job.got.reason.rfind("getMarluneAccessToken: ", 0), 0u) << body;
    EXPECT_NE(out.text().find("getMarluneAccessToken CURLOPT_WRITEFUNCTION out:\n" +
                              std::string(body) + "\n"),
              std::string::npos)
        << body;
    EXPECT_NE(out.text().find("getMarluneAccessToken CURLOPT_HEADERFUNCTION out:\n"),
              std::string::npos);
  }
}

TEST_F(AccessTokenTest, ATokenWithALineBreakIsNotTaken) {
  job.accessToken = "old";
  CoutCapture out;
  EXPECT_EQ(fetchWith(R"({"code":"success","data":{"token":"t\r\nX-Evil: 1"}})"), "");
  EXPECT_EQ(job.accessToken, "old");
  EXPECT_EQ(job.got.reason, "getMarluneAccessToken: the answer holds no usable \"token\"");
  EXPECT_EQ(fetchWith(R"({"code":"success","data":{"token":"t\nx"}})"), "");
}

// A refusal says what the answer said: its code and message, or its HTTP status and the start
// of its body. HTTP 502, 503, 504 and 429 are passing trouble, whatever the body.
TEST_F(AccessTokenTest, ANoTokenAnswerSaysWhatItSaid) {
  job.accessToken = "old";
  CoutCapture out;
  const std::pair<const char*, const char*> cases[] = {
      {R"({"code":401,"message":"bad credential"})",
       "refused (code: 401, message: bad credential)"},
      {R"({"code":-7})", "refused (code: -7)"},
      {R"({"code":500,"message":17})", "refused (code: 500, message: 17)"},
      {"<html>\n", "HTTP 200: <html>\\x0a"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(fetchWith(c.first), "");
    EXPECT_EQ(job.got.reason, std::string("getMarluneAccessToken: ") + c.second);
  }
  EXPECT_EQ(job.accessToken, "old");
  EmulatorResponse busy = jsonAnswer(R"({"code":503,"message":"busy"})", 503);
  busy.headers = {"Retry-After: 7"};
  server.onAlways("POST", kTokenPath, busy);
  EXPECT_EQ(job.getMarluneAccessToken(), "");
  EXPECT_TRUE(job.got.passing);
  EXPECT_EQ(job.got.retryAfterSeconds, 7);
  EXPECT_EQ(job.got.reason, R"(getMarluneAccessToken: HTTP 503: {"code":503,"message":"busy"})");
}

TEST_F(AccessTokenTest, ExpiryIsReadFromExpireTimeOrLeftAlone) {
  EXPECT_EQ(fetchWith(tokenAnswer("a", "2030-01-01 09:00:00.500")), "a");
  EXPECT_EQ(job.tokenExpiry, ticksAtNewYear2030(3600));

  const int64_t kept = job.tokenExpiry;
  job.accessToken.clear();  // forces a request whatever the expiry
  for (const char* expireTime : {"2030/01/01 10:00:00", "2030-01-01T10:00:00",
                                 "2030-01-01 25:00:00", "2030-02-01 10:61:00", "soon"}) {
    EXPECT_EQ(fetchWith(tokenAnswer("b", expireTime)), "b") << expireTime;
    EXPECT_EQ(job.tokenExpiry, kept) << expireTime;
    job.accessToken.clear();
  }

  // A token without an expiry: kept and returned, but not trusted on the next call.
  job.tokenExpiry = clock.nowTicks();
  EXPECT_EQ(fetchWith(R"({"code":"success","data":{"token":"c"}})"), "c");
  EXPECT_EQ(job.tokenExpiry, clock.nowTicks());
  server.onAlways("POST", kTokenPath, jsonAnswer(tokenAnswer("d", "2030-01-01 09:00:00")));
  EXPECT_EQ(job.getMarluneAccessToken(), "d");
  EXPECT_EQ(server.requests().size(), 8u);
}

TEST_F(AccessTokenTest, TransportFailureGivesEmptyTextKeepsTheTokenAndSaysWhy) {
  job.accessToken = "old";
  const int64_t expiry = job.tokenExpiry;
  CoutCapture out;
  LogCapture log;
  server.onAlways("POST", kTokenPath, droppedAnswer());
  EXPECT_EQ(job.getMarluneAccessToken(), "");
  EXPECT_EQ(out.text(), "");
  EXPECT_EQ(job.accessToken, "old");
  EXPECT_EQ(job.tokenExpiry, expiry);
  EXPECT_FALSE(job.got.answered);
  EXPECT_EQ(job.got.reason, "getMarluneAccessToken failed: Empty reply from server");
  EXPECT_EQ(log.count(" connect failed!!! max retry 32"), 1u);
}

TEST_F(AccessTokenTest, GatewayModeSendsTheCredentialUnencodedInTheQuery) {
  job.identity.tenantId = "tenant-1";
  job.identity.projectId = "42";
  job.identity.appKey = "???";
  job.identity.appSecret = "?>?";  // "???:?>?" encodes as Pz8/Oj8+Pw==
  EXPECT_EQ(fetchWith(tokenAnswer("gw", "2030-01-01 09:00:00")), "gw");
  std::vector<RecordedRequest> requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target, std::string(kTokenPath) + "?credential=Pz8/Oj8+Pw==");
  EXPECT_EQ(ownHeaderShape(requests[0]),
            signedShape({"Authorization:Basic Pz8/Oj8+Pw==", "Content-Type: application/json"}));
}
