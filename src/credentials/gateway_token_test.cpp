// The gateway token request against a recording server on 127.0.0.1.
#include "credentials/gateway_token.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

class GatewayTokenTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing_support::initCurlGlobal(); }

  std::string fetch(const std::string& clientId = "key", const std::string& secret = "secret") {
    std::string reason;
    return fetchGatewayToken(server.url() + kTokenPath, clientId, secret, reason);
  }

  // The token for an answer with `body`, and what went to standard output.
  std::string tokenFor(const std::string& body, std::string* out = nullptr) {
    server.onAlways("POST", kTokenPath, jsonAnswer(body));
    testing_support::CoutCapture capture;
    std::string token = fetch();
    if (out != nullptr) *out = capture.text();
    return token;
  }

  TestServer server;
};

}  // namespace

TEST_F(GatewayTokenTest, PostsTheUnencodedFormWithoutJsonOrGatewayHeaders) {
  server.onAlways("POST", kTokenPath, jsonAnswer("{\"access_token\":\"tok\"}"));
  testing_support::CoutCapture capture;
  EXPECT_EQ(fetch("k&e=y+1", "s+e&c=r/t"), "tok");

  std::vector<RecordedRequest> sent = server.requestsTo(kTokenPath);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].method, "POST");
  EXPECT_EQ(sent[0].body,
            "grant_type=client_credentials&client_id=k&e=y+1&client_secret=s+e&c=r/t");
  EXPECT_EQ(sent[0].header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(sent[0].header("Content-Length"), std::to_string(sent[0].body.size()));
  for (const std::string& line : sent[0].headers) {
    EXPECT_EQ(line.find("application/json"), std::string::npos) << line;
    EXPECT_NE(line.compare(0, 2, "x-"), 0) << line;
    EXPECT_NE(line.compare(0, 14, "Authorization:"), 0) << line;
  }
}

TEST_F(GatewayTokenTest, TakesOnlyAStringAccessToken) {
  EXPECT_EQ(tokenFor("{\"token_type\":\"bearer\",\"access_token\":\"a.b-c\",\"expires_in\":7}"),
            "a.b-c");
  EXPECT_EQ(tokenFor("\xEF\xBB\xBF{\"access_token\":\"bom\"}"), "bom");  // mark skipped
  EXPECT_EQ(tokenFor("{\"access_token\":\"\"}"), "");
  EXPECT_EQ(tokenFor("{\"access_token\":12345}"), "");
  EXPECT_EQ(tokenFor("{\"access_token\":null}"), "");
  EXPECT_EQ(tokenFor("{\"access_token\":{\"value\":\"x\"}}"), "");
  EXPECT_EQ(tokenFor("[{\"access_token\":\"x\"}]"), "");
  EXPECT_EQ(tokenFor("{\"error\":\"invalid_client\"}"), "");
  EXPECT_EQ(tokenFor("{\"access_token\":\"x\""), "");
  EXPECT_EQ(tokenFor(""), "");
}

TEST_F(GatewayTokenTest, RefusesATokenThatWouldBreakItsHeaderLine) {
  EXPECT_EQ(tokenFor("{\"access_token\":\"abc\\r\\nX-Evil: 1\"}"), "");
  EXPECT_EQ(tokenFor("{\"access_token\":\"abc\\nX-Evil: 1\"}"), "");
  EXPECT_EQ(tokenFor("{\"access_token\":\"abc\\u0000\\r\\nX-Evil: 1\"}"), "abc");
}

TEST_F(GatewayTokenTest, PrintsBothBlocksForEveryAnswer) {
  std::string out;
  EXPECT_EQ(tokenFor("[1,2]", &out), "");
  EXPECT_EQ(out.find("getGatewayToken CURLOPT_WRITEFUNCTION out:\n[1,2]\n"
                     "getGatewayToken CURLOPT_HEADERFUNCTION out:\nHTTP/1.1 200"),
            0u)
      << out;
  EXPECT_EQ(out.substr(out.size() - 5), "\r\n\r\n\n");

  EXPECT_EQ(tokenFor("", &out), "");
  EXPECT_EQ(out.find("getGatewayToken CURLOPT_WRITEFUNCTION out:\n\n"
                     "getGatewayToken CURLOPT_HEADERFUNCTION out:\n"),
            0u)
      << out;
}

TEST_F(GatewayTokenTest, TransportFailureGivesAnEmptyTokenAndPrintsNothing) {
  server.onAlways("POST", kTokenPath, droppedAnswer());
  testing_support::FakeClock clock(17000000001234567);
  testing_support::ScopedTimeSource useClock(&clock);
  testing_support::CoutCapture capture;
  testing_support::LogCapture log;
  EXPECT_EQ(fetch(), "");
  EXPECT_EQ(capture.text(), "");
  EXPECT_EQ(log.count(" connect failed!!! max retry 32"), 1u);
}
