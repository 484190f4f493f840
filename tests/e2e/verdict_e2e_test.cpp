// The verdict a caller reads after a run that went wrong: an earlier result is gone before the
// first request, so a run that is killed leaves none; a run asked to end says so in its result
// and ends as the signal would; and passing trouble during a wait decides nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>

#include "support/client_run.h"
#include "support/emulator_process.h"
#include "support/file_util.h"
#include "support/job_config.h"
#include "support/process.h"
#include "support/test_server.h"
#include "support/wait.h"

#ifndef _WIN32
#include <signal.h>
#endif

using namespace testing_support;

namespace {

const char kToken[] =
    R"({"code":"success","data":{"token":"T1","expireTime":"2999-01-01 00:00:00"}})";

class Verdict : public ::testing::Test {
 protected:
  // Starts the client on a translate job against the server, in gateway mode when `gateway`.
  std::unique_ptr<ChildProcess> start(bool gateway) {
    JobConfig config("translate", server.url(), client.resultPath());
    if (gateway) config.gateway(server.url(), "t", "o");
    writeFile(client.configPath(), config);
    ProcessOptions options;
    options.stdoutPath = client.dir() + "/stdout";
    options.stderrPath = client.dir() + "/stderr";
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{MARLUNE_BINARY, "-cfg", client.configPath()}, options);
  }

  // True once a request to `path` has arrived, within ten seconds.
  bool arrived(const std::string& path) {
    return waitUntil([&] { return !server.requestsTo(path).empty(); }, std::chrono::seconds(10));
  }

  TestServer server;
  ClientRunner client{MARLUNE_BINARY};
};

TEST_F(Verdict, AnEarlierResultIsGoneBeforeTheFirstRequestSoAKilledRunLeavesNone) {
  writeFile(client.resultPath(),
            R"({"code":"success","message":"an earlier run","data":{"fileitemid":"4242"}})");
  std::atomic<bool> keptAtFirstRequest{true};
  server.on("POST", "/api/uaa/oauth/token", [&](const RecordedRequest&) {
    keptAtFirstRequest = fileExists(client.resultPath());
    return silentAnswer();
  });
  {
    std::unique_ptr<ChildProcess> child = start(true);
    ASSERT_TRUE(arrived("/api/uaa/oauth/token"));
  }  // killed outright, as by SIGKILL
  EXPECT_FALSE(keptAtFirstRequest);
  EXPECT_FALSE(fileExists(client.resultPath()));
}

TEST_F(Verdict, ARunAskedToEndSaysInterruptedAndEndsAsTheSignalWould) {
#ifdef _WIN32
  GTEST_SKIP() << "wine gives a child without a console no Ctrl-Break: it would be ended outright";
#else
  server.onAlways("POST", "/oauth2/token", jsonAnswer(kToken));
  server.onAlways("PUT", "/v2/translate", silentAnswer());
  std::unique_ptr<ChildProcess> child = start(false);
  ASSERT_TRUE(arrived("/v2/translate"));
  const auto asked = std::chrono::steady_clock::now();
  child->terminate();
  child->wait();
  const auto took = std::chrono::steady_clock::now() - asked;
  EXPECT_EQ(child->killedBy(), SIGTERM);
  EXPECT_LT(took, std::chrono::milliseconds(1500));
  EXPECT_EQ(client.result(),
            R"({"code":"failed","message":"interrupted","data":{"fileitemid":"4242"}})");
  const std::string err = readFile(client.dir() + "/stderr");
  EXPECT_EQ(countOf(err, "] interrupted by SIGTERM\n"), 1u) << err;
  EXPECT_EQ(countOf("\n" + err, "\nE"), 1u) << err;          // and no other ERROR line
  EXPECT_EQ(server.requestsTo("/v2/translate").size(), 1u);  // nor a retry
#endif
}

// Against the emulator, a wait meets a gateway's 503 and, twice, a token the service no longer
// takes (the client reads its expiry an hour later than it is, as a clock or time zone out of
// step would), and still ends with the job's own verdict.
TEST(PassingTrouble, AWaitThatMeetsA503AndRefusedTokensEndsAsTheJobDoes) {
  const std::string dir = makeTempDir();
  writeFile(dir + "/scenario.json",
            R"({"faults":[{"endpoint":"status","request":1,"action":"status","status":503,)"
            R"("body":"busy"}]})");
  EmulatorProcess emulator(MARLUNE_EMULATOR, {"--token-lifetime", "8", "--job-duration", "19",
                                              "--scenario", dir + "/scenario.json"});
  ASSERT_NE(emulator.port(), 0);
  writeFile(dir + "/job.json", JobConfig("translatewaitfor", emulator.url(), dir + "/result.json")
                                   .set("appkey", "demo-app-key")
                                   .set("appsecret", "demo-app-secret")
                                   .fileId(400)
                                   .set("overtime", 60));
  // The emulator writes expiry times in UTC; this client reads them an hour behind UTC.
  ProcessResult run = runProcess({MARLUNE_BINARY, "-cfg", dir + "/job.json"}, "", {"TZ=MTL1"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(readFile(dir + "/result.json"),
            R"({"code":"success","message":"translate job accepted for file 400",)"
            R"("data":{"fileitemid":"400"}})");
  EXPECT_EQ(countOf(run.err, "getTranslateStatus: HTTP 503 tells nothing of the job: busy"), 1u)
      << run.err;
  EXPECT_EQ(countOf(run.err, "asking for a new one and polling again"), 2u) << run.err;
  EXPECT_EQ(emulator.logCount("(access token expired)"), 2u) << emulator.log();
  removeTree(dir);
}

}  // namespace
