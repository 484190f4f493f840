// The built client when the network, the peers or the file system misbehave: each run must
// end with the documented result file, exit status and log lines, and leave no secret in
// the log files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <utility>
#include <vector>

#include "support/client_run.h"
#include "support/job_config.h"
#include "support/process.h"
#include "support/test_server.h"
#include "support/wait.h"

using namespace testing_support;

namespace {

const char kKey[] = "app-key";
const char kSecret[] = "s3cr3t-app-value";
const char kCredential[] = "YXBwLWtleTpzM2NyM3QtYXBwLXZhbHVl";  // base64 of key:secret
const char kServiceToken[] = "svc-token-9f8e7d";
const char kGatewayToken[] = "gw-token-1a2b3c";

std::string tokenAnswer() {
  return std::string(R"({"code":"success","data":{"token":")") + kServiceToken +
         R"(","expireTime":"2999-01-01 00:00:00"}})";
}
const char kAccepted[] = R"({"code":"success","message":"accepted"})";
const char kFinished[] = R"({"code":"success","data":{"status":"success"}})";
const char kProjectPath[] = "/api/org-permission/v4/orgs/org-1/projects";

EmulatorResponse redirectTo(const std::string& location) {
  EmulatorResponse answer;
  answer.status = 302;
  answer.contentType.clear();
  answer.headers.push_back("Location: " + location);
  return answer;
}

EmulatorResponse cut(const std::string& body) {
  return delivered(jsonAnswer(body), Delivery::cut());
}

class FaultMatrix : public ::testing::Test {
 protected:
  // A configuration in plain mode (`gateway` false) or gateway mode against `server`.
  JobConfig configFor(const std::string& cmdType, bool gateway = false) {
    JobConfig config(cmdType, server.url(), client.resultPath());
    config.set("accounturl", server.url()).set("appkey", kKey).set("appsecret", kSecret).fileId(7);
    if (gateway) config.set("tenantid", "tenant").set("orgid", "org-1");
    return config;
  }

  ProcessResult runClient(const JobConfig& config) {
    ProcessResult run = client.run(config);
    expectNoSecretInLogs();
    return run;
  }

  // A run on `config`, with the seconds it took.
  ProcessResult timedRun(double& seconds, const std::string& config) {
    auto start = std::chrono::steady_clock::now();
    ProcessResult run = client.run(config);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    expectNoSecretInLogs();
    return run;
  }

  void serveEverything() {
    server.onAlways("POST", "/api/uaa/oauth/token",
                    jsonAnswer(std::string(R"({"access_token":")") + kGatewayToken + "\"}"));
    server.onAlways("GET", kProjectPath, jsonAnswer(R"({"project":{"id":55}})"));
    server.onAlways("POST", "/oauth2/token", jsonAnswer(tokenAnswer()));
    server.onAlways("PUT", "/v2/translate", jsonAnswer(kAccepted));
    server.onAlways("GET", "/translate", jsonAnswer(kFinished));
  }

  void expectNoSecretInLogs() {
    std::string logs = client.logsOfLastRun();
    for (const char* secret : {kSecret, kCredential, kServiceToken, kGatewayToken}) {
      EXPECT_EQ(logs.find(secret), std::string::npos) << "log files hold " << secret;
    }
  }

  std::string result(const std::string& code, const std::string& message) const {
    return R"({"code":")" + code + R"(","message":")" + message + R"(","data":{"fileitemid":"7"}})";
  }

  TestServer server;
  ClientRunner client{MARLUNE_BINARY};
};

// Every request's peer resets the first connection before answering and cuts the second
// answer in the middle of its body; the third attempt gets through.
TEST_F(FaultMatrix, ResetsBeforeAndDuringAnswersAreRetriedForEveryRequest) {
  server.onSequence("POST", "/api/uaa/oauth/token",
                    {droppedAnswer(), cut(R"({"access_token":"x"})"),
                     jsonAnswer(std::string(R"({"access_token":")") + kGatewayToken + "\"}")});
  server.onSequence(
      "GET", kProjectPath,
      {droppedAnswer(), cut(R"({"project":{"id":55}})"), jsonAnswer(R"({"project":{"id":55}})")});
  server.onSequence("POST", "/oauth2/token",
                    {droppedAnswer(), cut(tokenAnswer()), jsonAnswer(tokenAnswer())});
  server.onSequence("PUT", "/v2/translate",
                    {droppedAnswer(), cut(kAccepted), jsonAnswer(kAccepted)});
  server.onSequence("GET", "/translate", {droppedAnswer(), cut(kFinished), jsonAnswer(kFinished)});
  ProcessResult run = runClient(configFor("translatewaitfor", true));
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(client.result(), result("success", "accepted"));
  EXPECT_EQ(server.connectionCount(), 15u);
  std::string base = server.url();
  for (const std::string& url :
       {base + "/api/uaa/oauth/token", base + kProjectPath + "?includeExtendData=false",
        base + "/oauth2/token?credential=***", base + "/v2/translate",
        base + "/translate?fileId=7"}) {
    EXPECT_EQ(countOf(run.err, "] " + url + " connect failed!!! retry 2\n"), 1u) << url;
  }
  EXPECT_EQ(countOf(run.err, "connect failed!!!"), 5u);
  // The project id went through the faults too.
  EXPECT_EQ(server.requestsTo("/v2/translate").back().header("x-project-id"), "55");
}

TEST_F(FaultMatrix, ATokenAnswerPastItsTimeLimitIsRetried) {
  serveEverything();
  server.onSequence(
      "POST", "/oauth2/token",
      {delivered(jsonAnswer(tokenAnswer()), Delivery::delay(21000)), jsonAnswer(tokenAnswer())});
  ProcessResult run = runClient(configFor("translate"));
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(client.result(), result("success", "accepted"));
  EXPECT_EQ(server.requestsTo("/oauth2/token").size(), 2u);
  EXPECT_EQ(server.requestsTo("/v2/translate")[0].header("Authorization"),
            std::string("Bearer ") + kServiceToken);
  EXPECT_EQ(countOf(run.err, "connect failed!!!"), 0u);  // the second attempt comes at once
}

TEST_F(FaultMatrix, HttpErrorStatusesAreAnswersJudgedByTheirBody) {
  serveEverything();
  server.onAlways("PUT", "/v2/translate",
                  jsonAnswer(R"({"code":500,"message":"internal error"})", 500));
  ProcessResult run = runClient(configFor("translate"));
  EXPECT_EQ(client.result(), result("failed", "internal error"));
  EXPECT_EQ(server.requestsTo("/v2/translate").size(), 1u);
  EXPECT_EQ(run.exitStatus, 0);

  EmulatorResponse notFound = jsonAnswer("<html>not found</html>", 404);
  notFound.contentType = "text/html";
  server.onAlways("GET", "/translate", notFound);
  run = runClient(configFor("waitfor"));
  EXPECT_EQ(client.result(), result("failed", ""));
  EXPECT_NE(
      run.out.find("*getTranslateStatus CURLOPT_WRITEFUNCTION out:\n<html>not found</html>\n"),
      std::string::npos)
      << run.out;
  EXPECT_EQ(server.requestsTo("/translate").size(), 1u);
}

TEST_F(FaultMatrix, OnlyTheCommitAndTheStatusQueryFollowRedirects) {
  serveEverything();
  server.onAlways("GET", kProjectPath, redirectTo(server.url() + "/moved/project"));
  server.onAlways("PUT", "/v2/translate", redirectTo(server.url() + "/moved/translate"));
  server.onAlways("PUT", "/moved/translate", jsonAnswer(R"({"code":"success","message":"moved"})"));
  server.onAlways("GET", "/translate", redirectTo(server.url() + "/moved/status"));
  server.onAlways("GET", "/moved/status", jsonAnswer(kFinished));
  ProcessResult run = runClient(configFor("translatewaitfor", true));
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(client.result(), result("success", "moved"));
  EXPECT_TRUE(server.requestsTo("/moved/project").empty());
  ASSERT_EQ(server.requestsTo("/moved/translate").size(), 1u);
  ASSERT_EQ(server.requestsTo("/moved/status").size(), 1u);
  // The redirect answer gave no project: absent on the wire.
  EXPECT_FALSE(server.requestsTo("/v2/translate")[0].hasHeader("x-project-id"));
  // A redirect gives no service token, and without one nothing more is sent.
  server.onAlways("POST", "/oauth2/token", redirectTo(server.url() + "/moved/token"));
  run = runClient(configFor("translate"));
  EXPECT_EQ(client.result(), result("failed", "getMarluneAccessToken: HTTP 302"));
  EXPECT_TRUE(server.requestsTo("/moved/token").empty());
  EXPECT_EQ(server.requestsTo("/v2/translate").size(), 1u);
}

TEST_F(FaultMatrix, AnUnwritableResultFileIsLoggedWithExitStatusZero) {
  // Each output with the reason the system gives for it (Windows and wine word their own, so
  // there only the line's start is checked).
  std::vector<std::pair<std::string, std::string>> outputs = {
      {client.dir() + "/missing/result.json", ""}};
#ifndef _WIN32  // a full device, a read-only file system and a read-only directory
  outputs[0].second = "No such file or directory";
  outputs.push_back({"/dev/full", "No space left on device"});
  outputs.push_back({"/proc/marlune-result.json", "No such file or directory"});
  if (geteuid() != 0) {  // root writes into read-only directories anyway
    std::string readOnly = client.dir() + "/read-only";
    mkdir(readOnly.c_str(), 0555);
    outputs.push_back({readOnly + "/result.json", "Permission denied"});
  }
#endif
  for (const auto& output : outputs) {
    ProcessResult run = client.run(JobConfig("none", "r", output.first).remove("requestbody"));
    EXPECT_EQ(run.exitStatus, 0) << output.first;
    const std::string reason = "cannot write " + output.first + ": ";
    EXPECT_EQ(countOf(run.err, "] output result failed!\n"), 1u) << output.first << run.err;
    const std::string line = "] " + reason + output.second;
    EXPECT_NE(run.err.find(output.second.empty() ? line : line + "\n"), std::string::npos)
        << output.first << run.err;
  }
}

// About 62 s: every attempt of the token request is refused, so it waits out all the pauses
// of the retry rule; without a token no commit is sent.
TEST_F(FaultMatrix, SlowConnectionRefusedOnEveryAttempt) {
  RefusingPort closed;
  std::string url = closed.url();
  ProcessResult run = client.run(JobConfig("translate", url, client.resultPath())
                                     .set("accounturl", "a")
                                     .set("appsecret", kSecret)
                                     .fileId(7));
  EXPECT_EQ(run.exitStatus, 0);
  const std::string why = "getMarluneAccessToken failed: Failed to connect to 127.0.0.1";
  EXPECT_EQ(client.result().rfind(R"({"code":"failed","message":")" + why, 0), 0u)
      << client.result();
  EXPECT_EQ(countOf(run.err, "] " + url + "/oauth2/token connect failed!!! max retry 32\n"), 1u);
  EXPECT_EQ(countOf(run.err, "/v2/translate"), 0u);
  // After the last retry line, one line in libcurl's words says why it gave up.
  size_t line = run.err.find("marluneTranslate.cpp:185] " + why);
  ASSERT_NE(line, std::string::npos) << run.err;
  EXPECT_NE(run.err.rfind(" max retry 32\n", line), std::string::npos);
  EXPECT_EQ(countOf(run.err, "] getMarluneAccessToken failed: "), 1u);
  EXPECT_EQ(run.out, client.echo());
  expectNoSecretInLogs();
}

// A peer that accepts a request and never answers it, or stops in the middle of an answer,
// holds an attempt for at most a minute; the retry rule then takes over.
TEST_F(FaultMatrix, SlowACommitThatIsNeverAnsweredIsCutAfterAMinute) {
  serveEverything();
  server.onSequence("PUT", "/v2/translate", {silentAnswer(), jsonAnswer(kAccepted)});
  double seconds = 0;
  ProcessResult run = timedRun(seconds, configFor("translate"));
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(client.result(), result("success", "accepted"));
  EXPECT_EQ(server.requestsTo("/v2/translate").size(), 2u);
  EXPECT_EQ(countOf(run.err, "connect failed!!!"), 0u);  // the second attempt comes at once
  EXPECT_GE(seconds, 60);
  EXPECT_LT(seconds, 80);
}

TEST_F(FaultMatrix, SlowAGatewayTokenStoppedMidBodyIsCutAfterAMinute) {
  serveEverything();
  const EmulatorResponse half =
      delivered(jsonAnswer(std::string(R"({"access_token":")") + kGatewayToken + "\"}"),
                Delivery::cutAndHold());
  server.onSequence(
      "POST", "/api/uaa/oauth/token",
      {half, jsonAnswer(std::string(R"({"access_token":")") + kGatewayToken + "\"}")});
  double seconds = 0;
  ProcessResult run = timedRun(seconds, configFor("translate", true));
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(client.result(), result("success", "accepted"));
  EXPECT_EQ(server.requestsTo("/api/uaa/oauth/token").size(), 2u);
  EXPECT_EQ(server.requestsTo("/v2/translate").back().header("x-project-id"), "55");
  EXPECT_GE(seconds, 60);
  EXPECT_LT(seconds, 80);
}

// A wait with "overtime" N ends with "overtime!" within N + 20 s whatever the server does:
// its requests keep the retry rule until 10 s past N; then no attempt starts and one still
// running is ended.
TEST_F(FaultMatrix, AWaitEndsWithinItsLimitWhenTheStatusQueryIsNeverAnswered) {
  serveEverything();
  server.onAlways("GET", "/translate", silentAnswer());
  double seconds = 0;
  ProcessResult run = timedRun(seconds, configFor("waitfor").set("overtime", 10));
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(client.result(), result("failed", "overtime!"));
  EXPECT_LT(seconds, 30);
  EXPECT_EQ(server.requestsTo("/translate").size(), 1u);
  EXPECT_EQ(countOf(run.err, "] getTranslateStatus failed: "), 1u) << run.err;
  EXPECT_EQ(countOf(run.err, "connect failed!!!"), 0u) << run.err;
}

TEST_F(FaultMatrix, AWaitEndsWithinItsLimitWhenTheStatusAnswerDrips) {
  serveEverything();
  const EmulatorResponse drip = delivered(jsonAnswer(kFinished), Delivery::drip(1));
  server.onAlways("GET", "/translate", drip);
  double seconds = 0;
  ProcessResult run = timedRun(seconds, configFor("waitfor").set("overtime", 10));
  EXPECT_EQ(client.result(), result("failed", "overtime!"));
  EXPECT_LT(seconds, 30);
  EXPECT_EQ(server.requestsTo("/translate").size(), 1u);
}

TEST_F(FaultMatrix, AWaitEndsWithinItsLimitWhenTheTokenRequestStalls) {
  serveEverything();
  server.onAlways("POST", "/oauth2/token", silentAnswer());
  double seconds = 0;
  ProcessResult run = timedRun(seconds, configFor("waitfor").set("overtime", 10));
  EXPECT_EQ(client.result(), result("failed", "overtime!"));
  EXPECT_LT(seconds, 30);
  EXPECT_EQ(server.requestsTo("/oauth2/token").size(), 1u);
  // By the time the token attempt was ended, the query's own time had run out as well.
  EXPECT_TRUE(server.requestsTo("/translate").empty());
}

TEST_F(FaultMatrix, AWaitEndsWithinItsLimitWhenTheServerIsGone) {
  RefusingPort gone;
  std::string url = gone.url();
  double seconds = 0;
  ProcessResult run = timedRun(
      seconds, JobConfig("waitfor", url, client.resultPath()).set("overtime", 10).fileId(7));
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(client.result(), result("failed", "overtime!"));
  EXPECT_LT(seconds, 30);
  EXPECT_EQ(countOf(run.err, " max retry 32"), 0u);
}

// A poll made past the limit keeps its retries, for its token request too: two drops cost a
// retry line and a pause, not the answer. A poll that ends past the limit still reports
// "overtime!", whatever it found.
TEST_F(FaultMatrix, APollPastTheLimitKeepsTheRetryRule) {
  serveEverything();
  server.onSequence("POST", "/oauth2/token",
                    {droppedAnswer(), droppedAnswer(), jsonAnswer(tokenAnswer())});
  server.onSequence("GET", "/translate", {droppedAnswer(), droppedAnswer(), jsonAnswer(kFinished)});
  ProcessResult run = runClient(configFor("waitfor").set("overtime", 0));
  EXPECT_EQ(client.result(), result("failed", "overtime!"));
  EXPECT_EQ(server.requestsTo("/oauth2/token").size(), 3u);
  EXPECT_EQ(server.requestsTo("/translate").size(), 3u);
  EXPECT_EQ(countOf(run.err, " connect failed!!! retry 2\n"), 2u) << run.err;
  EXPECT_EQ(countOf(run.err, " failed: "), 0u) << run.err;
}

TEST_F(FaultMatrix, ALaterPollPastTheLimitKeepsTheRetryRule) {
  serveEverything();
  server.onSequence("GET", "/translate",
                    {jsonAnswer(R"({"code":"success","data":{"status":"processing"}})"),
                     droppedAnswer(), droppedAnswer(), jsonAnswer(kFinished)});
  ProcessResult run = runClient(configFor("waitfor").set("overtime", 5));
  EXPECT_EQ(client.result(), result("failed", "overtime!"));
  EXPECT_EQ(server.requestsTo("/translate").size(), 4u);
  EXPECT_EQ(countOf(run.err, " connect failed!!! retry 2\n"), 1u) << run.err;
  EXPECT_EQ(countOf(run.err, " failed: "), 0u) << run.err;
}

// What a calling script does to the client's own streams and to the client itself must not
// cost it its result.
TEST_F(FaultMatrix, AClosedStandardOutputDoesNotEndTheRun) {
  serveEverything();
  writeFile(client.configPath(), configFor("translate"));
  ProcessOptions options;  // standard output is a pipe, as in "client | head -c 10"
  options.stderrPath = client.dir() + "/stderr";
  ChildProcess child({MARLUNE_BINARY, "-cfg", client.configPath()}, options);
  EXPECT_EQ(child.readLine(10000), "-cfg");
  child.closeOutput();
  EXPECT_EQ(child.wait(), 0);
  EXPECT_EQ(client.result(), result("success", "accepted"));
}

TEST_F(FaultMatrix, EndingTheRunWhileItWritesTheResultLeavesNoPart) {
  serveEverything();
  const std::string large(64 << 20, 'm');
  server.onAlways("PUT", "/v2/translate",
                  jsonAnswer(R"({"code":"success","message":")" + large + "\"}"));
  writeFile(client.resultPath(), result("success", "an earlier run"));
  writeFile(client.configPath(), configFor("translate"));
  ProcessOptions options;
  options.stdoutPath = client.dir() + "/stdout";
  ChildProcess child({MARLUNE_BINARY, "-cfg", client.configPath()}, options);
  // Stop it as soon as its temporary file appears.
  const bool writing = waitUntil(
      [&] {
        for (const std::string& name : listDir(client.dir())) {
          if (name.find(".tmp") != std::string::npos) return true;
        }
        return false;
      },
      std::chrono::seconds(60), std::chrono::milliseconds(1));
  ASSERT_TRUE(writing);
  child.terminate();
  child.wait();
  // The earlier result went before the first request: no result, or the whole new one if the
  // replacement came first; nothing torn.
  EXPECT_TRUE(!fileExists(client.resultPath()) ||
              readFile(client.resultPath()) == result("success", large));
#ifndef _WIN32  // what ends a program on Windows (TerminateProcess) leaves it no time to clean up
  for (const std::string& name : listDir(client.dir())) {
    EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
  }
#endif
}

}  // namespace
