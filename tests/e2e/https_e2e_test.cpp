// The built client over HTTPS against the built emulator, trusting the test's own CA as the
// configuration's "cafile", so that no root is needed. Under wine the Windows client talks to
// the Windows emulator; wine's TLS does not refuse a certificate it cannot verify, so refusals
// are tested on Linux only (hostile_transport_test, which also tests the system's store).
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/client_run.h"
#include "support/emulator_process.h"
#include "support/file_util.h"
#include "support/job_config.h"
#include "support/process.h"
#include "support/test_certificates.h"
#include "support/time_zone.h"

using namespace testing_support;

namespace {

const char kKey[] = "demo-app-key";
const char kSecret[] = "demo-app-secret";

JobConfig config(const std::string& cmdType, const std::string& rootUrl, int fileId,
                 const std::string& output, const std::string& caFile) {
  return JobConfig(cmdType, rootUrl, output)
      .set("accounturl", rootUrl)
      .set("appkey", kKey)
      .set("appsecret", kSecret)
      .fileId(fileId)
      .set("overtime", 60)
      .set("cafile", caFile);
}

std::string expected(const std::string& code, const std::string& message, int fileId) {
  return R"({"code":")" + code + R"(","message":")" + message + R"(","data":{"fileitemid":")" +
         std::to_string(fileId) + R"("}})";
}

#ifndef _WIN32

// The texts of a run's log lines, without glog's prefix (time, thread, place): what must not
// change with the way connections are kept.
std::vector<std::string> logTexts(const std::string& logs) {
  std::vector<std::string> texts;
  size_t start = 0;
  while (start < logs.size()) {
    size_t end = logs.find('\n', start);
    if (end == std::string::npos) end = logs.size();
    std::string line = logs.substr(start, end - start);
    size_t text = line.find("] ");
    if (text != std::string::npos) texts.push_back(line.substr(text + 2));
    start = end + 1;
  }
  return texts;
}

class HttpsRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setTimeZone("UTC"); }

  HttpsRun() : ca(makeCa("marlune test CA")) {
    writePem(makeLeaf(ca, "127.0.0.1", "IP:127.0.0.1"), dir + "/server.crt", dir + "/server.key");
    writePem(ca, caFile(), "");
  }
  ~HttpsRun() override { removeTree(dir); }

  // An emulator serving HTTPS with the CA's certificate for 127.0.0.1, and `more` options.
  std::unique_ptr<EmulatorProcess> emulator(std::vector<std::string> more = {}) {
    std::vector<std::string> options = {"--tls-cert", dir + "/server.crt", "--tls-key",
                                        dir + "/server.key"};
    options.insert(options.end(), more.begin(), more.end());
    return std::unique_ptr<EmulatorProcess>(new EmulatorProcess(MARLUNE_EMULATOR, options));
  }

  static std::string httpsUrl(const EmulatorProcess& server) {
    return "https://127.0.0.1:" + std::to_string(server.port());
  }

  std::string caFile() const { return dir + "/ca.crt"; }

  std::string dir = makeTempDir();
  TestCertificate ca;
  ClientRunner client{MARLUNE_BINARY};
};

// Kept, closed after every answer, or closed while idle just before the next poll: the
// client reconnects as needed, and nothing it reports differs; kept, the token request, the
// commit and every poll travel on one connection. The three runs go side by side.
TEST_F(HttpsRun, HowTheServerKeepsConnectionsChangesNothingTheCallerSees) {
  const std::vector<std::vector<std::string>> keeping = {
      {}, {"--close-connections"}, {"--keep-alive", "4"}};
  // The token, the commit and three polls of a 12 s job (at 5, 10 and 15 s): all on one
  // connection, one each, or one for the first two and one per poll.
  const size_t connections[] = {1, 5, 4};
  struct Run {
    std::unique_ptr<EmulatorProcess> server;
    std::unique_ptr<ClientRunner> client;
    ProcessResult result;
  };
  std::vector<Run> runs(keeping.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < keeping.size(); ++i) {
    std::vector<std::string> options = {"--job-duration", "12"};
    options.insert(options.end(), keeping[i].begin(), keeping[i].end());
    runs[i].server = emulator(options);
    runs[i].client.reset(new ClientRunner(MARLUNE_BINARY));
    threads.emplace_back([&runs, i, this] {
      ClientRunner& client = *runs[i].client;
      runs[i].result = client.run(config("translatewaitfor", httpsUrl(*runs[i].server), 302,
                                         client.resultPath(), caFile()));
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (size_t i = 0; i < runs.size(); ++i) {
    const ProcessResult& run = runs[i].result;
    EXPECT_EQ(runs[i].client->result(),
              expected("success", "translate job accepted for file 302", 302))
        << run.err;
    // After the commit's header block, the marks of the two polls of a running job.
    EXPECT_EQ(run.out.substr(run.out.rfind("\r\n\r\n\n") + 5), "++") << run.out;
    EXPECT_EQ(logTexts(runs[i].client->logsOfLastRun()), logTexts(runs[0].client->logsOfLastRun()));
    EXPECT_EQ(countOf(run.err, "connect failed!!!"), 0u) << run.err;
    EXPECT_EQ(runs[i].server->logCount(" opened (TLS)"), connections[i]) << runs[i].server->log();
  }
}

#else

// Under wine: the Windows client against the Windows emulator serving HTTPS, the chain checked
// up to the "cafile". libcurl then checks the host name against the certificate's DNS names
// (wine gives no common name in their place): the certificate names localhost.
TEST(HttpsUnderWine, TheWindowsClientAndEmulatorTranslateAndWait) {
  const std::string dir = makeTempDir();
  const TestCertificate ca = makeCa("marlune test CA");
  ASSERT_TRUE(writePem(ca, dir + "/ca.crt", ""));
  ASSERT_TRUE(
      writePem(makeLeaf(ca, "localhost", "DNS:localhost"), dir + "/cert.pem", dir + "/key.pem"));
  EmulatorProcess emulator(MARLUNE_EMULATOR, {"--tls-cert", dir + "/cert.pem", "--tls-key",
                                              dir + "/key.pem", "--job-duration", "1"});
  ASSERT_NE(emulator.port(), 0);
  ClientRunner client{MARLUNE_BINARY};
  const std::string url = "https://localhost:" + std::to_string(emulator.port());
  ProcessResult run =
      client.run(config("translatewaitfor", url, 303, client.resultPath(), dir + "/ca.crt"));
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(client.result(), expected("success", "translate job accepted for file 303", 303))
      << run.out;
  EXPECT_EQ(emulator.logCount(" opened (TLS)"), 1u) << emulator.log();
  removeTree(dir);
}

#endif

}  // namespace
