// The built client against hostile answers and configurations: ten MiB texts must arrive
// whole in the result file, a million levels of nesting must neither crash the client nor
// count as an answer, and a deeply nested request body must go out exactly, compacted.
#include <gtest/gtest.h>

#include <string>

#include "support/file_util.h"
#include "support/job_config.h"
#include "support/process.h"
#include "support/test_server.h"

using namespace testing_support;

namespace {

const char kToken[] =
    R"({"code":"success","data":{"token":"T1","expireTime":"2999-01-01 00:00:00"}})";
const char kAccepted[] = R"({"code":"success","message":"job accepted"})";
const size_t kMillion = 1000000;

std::string millionObjects() {
  std::string text;
  text.reserve(kMillion * 5);
  for (size_t i = 0; i < kMillion; ++i) text += "{\"a\":";
  return text;
}

std::string bodyBlock(const std::string& label, const std::string& body) {
  return label + " CURLOPT_WRITEFUNCTION out:\n" + body + "\n" + label +
         " CURLOPT_HEADERFUNCTION out:\n";
}

class HostileRun : public ::testing::Test {
 protected:
  void SetUp() override { server.onAlways("POST", "/oauth2/token", jsonAnswer(kToken)); }

  // Runs the client on a configuration with `cmdType` and the raw JSON `requestBody`.
  ProcessResult runClient(const std::string& cmdType,
                          const std::string& requestBody = R"({"source":{"fileId":4242}})") {
    return runOn(JobConfig(cmdType, server.url(), resultPath())
                     .set("accounturl", server.url())
                     .setJson("requestbody", requestBody));
  }
  ProcessResult runOn(const std::string& configText) {
    writeFile(dir_ + "/job.json", configText);
    return runProcess({MARLUNE_BINARY, "-cfg", dir_ + "/job.json"});
  }
  std::string resultPath() const { return dir_ + "/result.json"; }
  std::string result() const { return readFile(resultPath()); }

  TestServer server;
  std::string dir_ = makeTempDir();
};

TEST_F(HostileRun, TenMiBCommitMessageReachesTheResultFileWhole) {
  std::string utf8;
  std::string local;
  while (utf8.size() < 10 * 1024 * 1024) {
    utf8 += "\xE4\xB8\xAD\xE6\x96\x87-0123456789abcdef";
    local += "\xD6\xD0\xCE\xC4-0123456789abcdef";
  }
  const std::string answer = R"({"code":"success","message":")" + utf8 + "\"}";
  server.onAlways("PUT", "/v2/translate", jsonAnswer(answer));
  ProcessResult run = runClient("translate");
  EXPECT_EQ(run.exitStatus, 0);
  const std::string expected =
      R"({"code":"success","message":")" + local + R"(","data":{"fileitemid":"4242"}})";
  const std::string written = result();
  EXPECT_TRUE(written == expected)
      << written.size() << " bytes written, " << expected.size() << " expected";
  const std::string printed = R"({"code":"success","message":")" + local + "\"}";
  EXPECT_NE(run.out.find(bodyBlock("commitTranslate", printed)), std::string::npos);
}

TEST_F(HostileRun, AMillionOpenBracketsFailTheCommitWithoutCrash) {
  for (const std::string& answer : {std::string(kMillion, '['), millionObjects()}) {
    server.onAlways("PUT", "/v2/translate", jsonAnswer(answer));
    ProcessResult run = runClient("translate");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(result(), R"({"code":"failed","message":"","data":{"fileitemid":"4242"}})");
    EXPECT_NE(run.out.find(bodyBlock("commitTranslate", answer)), std::string::npos);
  }
}

TEST_F(HostileRun, AMillionOpenBracketsFailTheWaitWithoutCrash) {
  const std::string answer(kMillion, '[');
  server.onAlways("GET", "/translate", jsonAnswer(answer));
  ProcessResult run = runClient("waitfor");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(result(), R"({"code":"failed","message":"","data":{"fileitemid":"4242"}})");
  EXPECT_NE(run.out.find("*" + bodyBlock("getTranslateStatus", answer)), std::string::npos);
  EXPECT_EQ(server.requestsTo("/translate").size(), 1u);
}

TEST_F(HostileRun, AMillionLevelsDeepRequestBodyIsSentCompacted) {
  server.onAlways("PUT", "/v2/translate", jsonAnswer(kAccepted));
  // Objects and arrays in turn, a million levels in all, spaced out as a person might write.
  std::string spaced = R"({ "source" : { "fileId" : 1 } , "deep" : )";
  std::string compact = R"({"source":{"fileId":1},"deep":)";
  for (size_t i = 0; i < kMillion / 2; ++i) {
    spaced += "{ \"a\" : [ ";
    compact += "{\"a\":[";
  }
  for (size_t i = 0; i < kMillion / 2; ++i) {
    spaced += "] } ";
    compact += "]}";
  }
  compact += "}";
  ProcessResult run = runClient("translate", spaced + "}");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(result(), R"({"code":"success","message":"job accepted","data":{"fileitemid":"1"}})");
  std::vector<RecordedRequest> commits = server.requestsTo("/v2/translate");
  ASSERT_EQ(commits.size(), 1u);
  EXPECT_TRUE(commits[0].body == compact) << commits[0].body.size() << " bytes sent";
}

TEST_F(HostileRun, AMillionLevelsDeepConfigurationIsNotLoaded) {
  for (const std::string& config : {std::string(kMillion, '['), millionObjects()}) {
    ProcessResult run = runOn(config);
    EXPECT_EQ(run.exitStatus, 255);
    EXPECT_NE(run.err.find("]  load config error!"), std::string::npos) << run.err;
    EXPECT_FALSE(fileExists(resultPath()));
  }
  EXPECT_TRUE(server.requests().empty());
}

}  // namespace
