// The built client against the built emulator, both as real processes on 127.0.0.1:
// every operation in plain and gateway mode, the error paths the emulator can provoke,
// and the emulator's own gateway checks over HTTP. The client polls every five seconds
// on the real clock, so the jobs here last only a few seconds.
#include <gtest/gtest.h>

#include <rapidjson/document.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "credentials/gateway_signer.h"
#include "support/emulator_process.h"
#include "support/fake_clock.h"
#include "support/file_util.h"
#include "support/job_config.h"
#include "support/process.h"
#include "support/time_zone.h"
#include "transport/http_exchange.h"
#include "util/base64.h"

using namespace testing_support;

namespace {

const char kKey[] = "e2e-key";
const char kSecret[] = "top?\?\?>?";  // its Basic credential holds "/", "+" and "="
const char kTenant[] = "tenant-e2e";
const char kOrg[] = "org-e2e";

struct Reply {
  int status = 0;
  std::string body;
  std::string head;  // the status line and header lines
};

// One request to the emulator through the client's own transport, with `headers` and, when
// given, a body.
Reply call(const EmulatorProcess& emulator, const std::string& method, const std::string& target,
           std::vector<std::string> headers = {}, std::optional<std::string> body = std::nullopt) {
  HttpRequest request("call", method, emulator.url() + target);
  request.headerLines = std::move(headers);
  request.body = std::move(body);
  HttpAnswer answer;
  std::string reason;
  if (!performRequest(request, answer, reason) || answer.headerText.size() < 12) {
    return {0, "no answer", ""};
  }
  return {std::atoi(answer.headerText.c_str() + 9), answer.body, answer.headerText};
}

class EmulatorE2E : public ::testing::Test {
 protected:
  // The client reads "expireTime" as local standard time: both processes run in UTC.
  static void SetUpTestSuite() { setTimeZone("UTC"); }

  // The path of a configuration for `cmdtype` against `emulator`, waiting `overtime` seconds at
  // the most; gateway mode adds tenant, organisation and account URL.
  std::string writeConfig(const EmulatorProcess& emulator, const std::string& cmdtype,
                          int64_t fileId, bool gateway, int64_t overtime = 3600) {
    JobConfig config(cmdtype, emulator.url(), dir + "/result.json");
    config.set("appkey", kKey).set("appsecret", kSecret).set("overtime", overtime);
    if (gateway) config.gateway(emulator.url(), kTenant, kOrg);
    config.setJson("requestbody", R"({"source":{"fileId":)" + std::to_string(fileId) +
                                      R"(},"targetLanguage":"de"})");
    std::string path = dir + "/" + cmdtype + ".json";
    writeFile(path, config);
    return path;
  }

  ProcessResult runClient(const std::string& configPath) {
    std::remove((dir + "/result.json").c_str());
    return runProcess({MARLUNE_BINARY, "-cfg", configPath});
  }

  std::string result() const { return readFile(dir + "/result.json"); }

  static std::string expected(const std::string& code, const std::string& message, int64_t fileId) {
    return R"({"code":")" + code + R"(","message":")" + message + R"(","data":{"fileitemid":")" +
           std::to_string(fileId) + R"("}})";
  }

  static std::vector<std::string> gatewayOptions(std::vector<std::string> more = {}) {
    std::vector<std::string> options = {"--app-key",    kKey,    "--app-secret", kSecret,
                                        "--tenant",     kTenant, "--org",        kOrg,
                                        "--project-id", "7001"};
    options.insert(options.end(), more.begin(), more.end());
    return options;
  }

  static std::vector<std::string> plainOptions(std::vector<std::string> more = {}) {
    std::vector<std::string> options = {"--app-key", kKey, "--app-secret", kSecret};
    options.insert(options.end(), more.begin(), more.end());
    return options;
  }

  static std::string journalText(const EmulatorProcess& emulator) {
    return call(emulator, "GET", "/__emulator/requests").body;
  }

  static rapidjson::Document journalOf(const EmulatorProcess& emulator) {
    rapidjson::Document journal;
    journal.Parse(journalText(emulator).c_str());
    return journal;
  }

  std::string dir = makeTempDir();
};

TEST_F(EmulatorE2E, TranslatePlainAndGateway) {
  ASSERT_NE(base64Encode(std::string(kKey) + ":" + kSecret).find_first_of("+"), std::string::npos);
  {
    EmulatorProcess emulator(MARLUNE_EMULATOR, plainOptions());
    ASSERT_NE(emulator.port(), 0);
    ProcessResult run = runClient(writeConfig(emulator, "translate", 101, false));
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(result(), expected("success", "translate job accepted for file 101", 101));
    EXPECT_EQ(emulator.logCount("PUT /v2/translate -> 200 (job for file 101 started)"), 1u)
        << emulator.log();
#ifndef _WIN32  // wine gives a child without a console no Ctrl-Break: the stop is a kill there
    EXPECT_EQ(emulator.stop(), 0);
#endif
  }
  {
    EmulatorProcess emulator(MARLUNE_EMULATOR, gatewayOptions());
    ProcessResult run = runClient(writeConfig(emulator, "translate", 102, true));
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(result(), expected("success", "translate job accepted for file 102", 102));
    std::string log = emulator.log();
    EXPECT_NE(log.find("POST /api/uaa/oauth/token -> 200"), std::string::npos) << log;
    EXPECT_NE(log.find("GET /api/org-permission/v4/orgs/org-e2e/projects?includeExtendData=false"
                       " -> 200 (project 7001)"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("POST /oauth2/token?credential=*** -> 200"), std::string::npos) << log;
    EXPECT_EQ(log.find("gateway check failed"), std::string::npos) << log;
  }
}

TEST_F(EmulatorE2E, WaitforPlainAndGateway) {
  for (bool gateway : {false, true}) {
    EmulatorProcess emulator(MARLUNE_EMULATOR, gateway ? gatewayOptions({"--job-duration", "1"})
                                                       : plainOptions({"--job-duration", "1"}));
    ASSERT_EQ(runClient(writeConfig(emulator, "translate", 201, gateway)).exitStatus, 0);
    ProcessResult run = runClient(writeConfig(emulator, "waitfor", 201, gateway));
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    // A finished wait leaves the message where loading put it.
    EXPECT_EQ(result(), expected("success", gateway ? "" : "account url is empty!", 201));
    EXPECT_EQ(emulator.logCount("GET /translate?fileId=201 -> 200 (file 201 success)"), 1u)
        << emulator.log();
  }
  // Waiting for a file that has no job fails with the service's reason.
  EmulatorProcess emulator(MARLUNE_EMULATOR, plainOptions());
  ProcessResult run = runClient(writeConfig(emulator, "waitfor", 202, false));
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(result(), expected("failed", "no translate job for file 202", 202));
}

TEST_F(EmulatorE2E, TranslatewaitforPlain) {
  EmulatorProcess emulator(MARLUNE_EMULATOR, plainOptions({"--job-duration", "1"}));
  ProcessResult run = runClient(writeConfig(emulator, "translatewaitfor", 301, false));
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(result(), expected("success", "translate job accepted for file 301", 301));
}

TEST_F(EmulatorE2E, TranslatewaitforGatewayPollsWhileTheJobRuns) {
  EmulatorProcess emulator(MARLUNE_EMULATOR, gatewayOptions({"--job-duration", "6"}));
  ProcessResult run = runClient(writeConfig(emulator, "translatewaitfor", 302, true));
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(result(), expected("success", "translate job accepted for file 302", 302));
  EXPECT_NE(run.out.find("\n+"), std::string::npos) << run.out;
  EXPECT_EQ(emulator.logCount("(file 302 processing)"), 1u) << emulator.log();
  EXPECT_EQ(emulator.logCount("(file 302 success)"), 1u) << emulator.log();
}

TEST_F(EmulatorE2E, TheTokenIsRenewedDuringTheWait) {
  EmulatorProcess emulator(MARLUNE_EMULATOR,
                           gatewayOptions({"--token-lifetime", "2", "--job-duration", "6"}));
  ProcessResult run = runClient(writeConfig(emulator, "translatewaitfor", 303, true));
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(result(), expected("success", "translate job accepted for file 303", 303));
  // One token for the commit, a fresh one for each of the two polls.
  EXPECT_EQ(emulator.logCount("POST /oauth2/token?credential=*** -> 200"), 3u) << emulator.log();
  EXPECT_EQ(emulator.logCount("token expired"), 0u) << emulator.log();
}

TEST_F(EmulatorE2E, AFailingJobAndOvertime) {
  {
    EmulatorProcess emulator(MARLUNE_EMULATOR,
                             plainOptions({"--job-duration", "1", "--fail-file-ids", "7,401"}));
    ProcessResult run = runClient(writeConfig(emulator, "translatewaitfor", 401, false));
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(result(), expected("failed", "translation failed for file 401", 401));
    EXPECT_NE(run.out.find("*getTranslateStatus CURLOPT_WRITEFUNCTION out:\n"), std::string::npos)
        << run.out;
  }
  {
    EmulatorProcess emulator(MARLUNE_EMULATOR, gatewayOptions({"--job-duration", "60"}));
    ProcessResult run = runClient(writeConfig(emulator, "translatewaitfor", 402, true, 3));
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(result(), expected("failed", "overtime!", 402));
  }
}

TEST_F(EmulatorE2E, AWrongApplicationSecret) {
  {
    EmulatorProcess emulator(MARLUNE_EMULATOR, plainOptions({"--app-secret", "other"}));
    ProcessResult run = runClient(writeConfig(emulator, "translate", 501, false));
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    // The token's refusal is the reason; nothing is sent without a token.
    EXPECT_EQ(result(),
              expected("failed",
                       "getMarluneAccessToken: refused (code: 401, message: invalid application "
                       "key or secret)",
                       501));
    EXPECT_EQ(emulator.logCount("PUT /v2/translate"), 0u) << emulator.log();
    EXPECT_NE(run.out.find(R"({"code":401,"message":"invalid application key or secret"})"),
              std::string::npos)
        << run.out;
  }
  {
    EmulatorProcess emulator(MARLUNE_EMULATOR, gatewayOptions({"--app-secret", "other"}));
    ProcessResult run = runClient(writeConfig(emulator, "translatewaitfor", 502, true));
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(result(), expected("failed",
                                 "getMarluneAccessToken: refused (code: 401, message: gateway "
                                 "check failed: x-ca-signature mismatch)",
                                 502));
    EXPECT_EQ(
        emulator.logCount("gateway check failed: x-ca-signature mismatch (POST /oauth2/token)"), 1u)
        << emulator.log();
    EXPECT_EQ(emulator.logCount("PUT /v2/translate"), 0u) << emulator.log();
  }
}

TEST_F(EmulatorE2E, AWrongTenantIsRejectedByTheGateway) {
  EmulatorProcess emulator(MARLUNE_EMULATOR, gatewayOptions());
  std::string config = writeConfig(emulator, "translate", 503, true);
  std::string text = readFile(config);
  text.replace(text.find(kTenant), std::string(kTenant).size(), "tenant-other");
  writeFile(config, text);
  ProcessResult run = runClient(config);
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(result(), expected("failed",
                               "getMarluneAccessToken: refused (code: 401, message: gateway check "
                               "failed: x-tenant-id mismatch)",
                               503));
}

TEST_F(EmulatorE2E, DroppedConnectionsAreRetriedAndServerErrorsReported) {
  {
    EmulatorProcess emulator(MARLUNE_EMULATOR, plainOptions({"--drop-connections", "2"}));
    ProcessResult run = runClient(writeConfig(emulator, "translate", 601, false));
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(result(), expected("success", "translate job accepted for file 601", 601));
    EXPECT_NE(run.err.find("/oauth2/token connect failed!!! retry 2"), std::string::npos)
        << run.err;
    EXPECT_EQ(emulator.logCount("POST /oauth2/token -> connection dropped"), 2u) << emulator.log();
  }
  {
    EmulatorProcess emulator(MARLUNE_EMULATOR, plainOptions({"--error-answers", "1"}));
    ProcessResult run = runClient(writeConfig(emulator, "translate", 602, false));
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(result(), expected("failed",
                                 "getMarluneAccessToken: refused (code: 500, message: emulated "
                                 "server error)",
                                 602));
    EXPECT_NE(run.out.find("HTTP/1.1 500 Internal Server Error"), std::string::npos) << run.out;
  }
}

// A scenario drives the client down each path: faults of every kind, scripted jobs, a refused
// commit; the journal shows what reached the emulator.
TEST_F(EmulatorE2E, AScenarioScriptsJobsCommitsAndFaults) {
  writeFile(dir + "/scenario.json", R"({
    "jobs": {"12": ["processing", "success"],
             "14": [{"status": "failed", "message": "unreadable file"}]},
    "commits": {"13": {"code": "FILE_LOCKED", "message": "file is locked"}},
    "faults": [
      {"endpoint": "token", "request": 1, "action": "drop"},
      {"endpoint": "token", "request": 2, "action": "garbage"},
      {"endpoint": "translate", "request": 1, "action": "status", "status": 502,
       "body": "{\"code\":502,\"message\":\"bad gateway\"}"},
      {"endpoint": "token", "request": 4, "action": "delay", "ms": 1200},
      {"endpoint": "translate", "request": 2, "action": "drip", "bytesPerSecond": 100}]})");
  EmulatorProcess emulator(MARLUNE_EMULATOR, plainOptions({"--scenario", dir + "/scenario.json"}));
  ProcessResult run = runClient(writeConfig(emulator, "translate", 11, false));
  EXPECT_EQ(result(), expected("failed", "bad gateway", 11));
  EXPECT_EQ(countOf(run.err, "/oauth2/token connect failed!!! retry 2"), 1u) << run.err;

  // Neither the delayed token (1.2 s) nor the dripped commit answer (about 1.8 s for its 180
  // bytes) alone takes two and a half seconds.
  const auto start = std::chrono::steady_clock::now();
  runClient(writeConfig(emulator, "translate", 15, false));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
  EXPECT_EQ(result(), expected("success", "translate job accepted for file 15", 15));

  runClient(writeConfig(emulator, "translatewaitfor", 12, false));
  EXPECT_EQ(result(), expected("success", "translate job accepted for file 12", 12));
  runClient(writeConfig(emulator, "translate", 13, false));
  EXPECT_EQ(result(), expected("failed", "file is locked", 13));
  runClient(writeConfig(emulator, "waitfor", 14, false));
  EXPECT_EQ(result(), expected("failed", "unreadable file", 14));

  rapidjson::Document journal = journalOf(emulator);
  ASSERT_TRUE(journal.IsArray() && journal.Size() >= 3);
  EXPECT_STREQ(journal[0]["answer"].GetString(), "dropped");
  EXPECT_STREQ(journal[1]["note"].GetString(), "fault: garbage");
  EXPECT_EQ(journal[2]["answer"].GetInt(), 200);
  EXPECT_EQ(journal.Size(), emulator.logCount(" -> ") - 1) << emulator.log();  // less the GET
}

// What a gateway-mode run sent, as the journal keeps it: header lines in the order they came,
// and no secret, which comes from the environment here.
TEST_F(EmulatorE2E, TheJournalKeepsAGatewayRunWithItsSecretsMasked) {
  std::vector<std::string> options = gatewayOptions();
  options.erase(options.begin() + 2, options.begin() + 4);  // --app-secret kSecret
  EmulatorProcess emulator(MARLUNE_EMULATOR, options,
                           {std::string("MARLUNE_EMULATOR_APP_SECRET=") + kSecret});
  runClient(writeConfig(emulator, "translate", 16, true));
  EXPECT_EQ(result(), expected("success", "translate job accepted for file 16", 16));
  rapidjson::Document journal = journalOf(emulator);
  ASSERT_TRUE(journal.IsArray());
  ASSERT_EQ(journal.Size(), 4u);
  // The answers too, on the run's one connection, the tokens they handed out masked.
  EXPECT_STREQ(journal[0]["answerBody"].GetString(),
               R"({"access_token":"***","token_type":"bearer","expires_in":3600})");
  const std::string accepted =
      R"({"code":"success","message":"translate job accepted for file 16"})";
  EXPECT_EQ(journal[3]["answerBody"].GetString(), accepted);
  EXPECT_EQ(journal[3]["answerBodySize"].GetUint64(), accepted.size());
  for (const rapidjson::Value& entry : journal.GetArray()) {
    EXPECT_EQ(entry["connection"].GetInt64(), 1);
    const rapidjson::Value& headers = entry["headers"];
    EXPECT_STREQ(headers[0][0].GetString(), "Host");  // as libcurl sends them, not sorted
    for (const rapidjson::Value& header : headers.GetArray()) {
      const std::string name = header[0].GetString();
      const std::string value = header[1].GetString();
      if (name == "Authorization" || name == "x-ca-signature") {
        EXPECT_EQ(value.substr(value.find(' ') + 1), "***") << name;
      }
    }
  }
  const std::string text = journalText(emulator);
  EXPECT_EQ(text.find(base64Encode(std::string(kKey) + ":" + kSecret)), std::string::npos);
  EXPECT_EQ(text.find(kSecret), std::string::npos);
  EXPECT_EQ(text.find("client_secret=***"), text.rfind("client_secret=***")) << text;
  EXPECT_NE(text.find("client_secret=***"), std::string::npos) << text;
  EXPECT_NE(text.find(R"("target":"/oauth2/token?credential=***")"), std::string::npos) << text;
  EXPECT_EQ(text.find("svc-"), std::string::npos);
  EXPECT_EQ(text.find("gw-"), std::string::npos);
}

// The oldest entries go once the journal's bytes are used up, and a read says how many went;
// a journal larger than one piece comes in chunks, and a query it cannot read is refused.
TEST_F(EmulatorE2E, TheJournalStaysWithinItsBytesAndReadsInPages) {
  EmulatorProcess emulator(MARLUNE_EMULATOR, plainOptions({"--journal-bytes", "300000"}));
  const int kRequests = 30;
  for (int i = 0; i < kRequests; ++i) {
    call(emulator, "PUT", "/v2/translate", {}, std::string(20000, 'b'));
  }
  Reply all = call(emulator, "GET", "/__emulator/requests");
  rapidjson::Document journal;
  ASSERT_FALSE(journal.Parse(all.body.c_str()).HasParseError());
  const unsigned kept = journal.Size();
  EXPECT_GE(kept, 10u);
  EXPECT_LE(kept, 15u);
  EXPECT_NE(all.head.find("X-Journal-Dropped: " + std::to_string(kRequests - kept) + "\r\n"),
            std::string::npos)
      << all.head;
  EXPECT_NE(all.head.find("Transfer-Encoding: chunked\r\n"), std::string::npos) << all.head;

  EXPECT_EQ(call(emulator, "GET", "/__emulator/requests?limit=x").status, 400);
}

// A fault by chance with a seed: two emulators given the same scenario answer the same
// requests alike, and the journal notes each fault; another seed answers otherwise.
TEST_F(EmulatorE2E, ASeededFaultByChanceRepeats) {
  const std::string scenario = R"({"seed": SEED, "jobs": {"31": ["success"]}, "faults": [
      {"endpoint": "status", "request": 1, "probability": 0.4, "action": "status",
       "status": 503, "body": "{\"code\":503,\"message\":\"busy\"}",
       "headers": {"Retry-After": "1"}}]})";
  auto answersWithSeed = [&](const std::string& seed, std::string* journal) {
    std::string text = scenario;
    writeFile(dir + "/seeded.json", text.replace(text.find("SEED"), 4, seed));
    EmulatorProcess emulator(MARLUNE_EMULATOR, plainOptions({"--scenario", dir + "/seeded.json"}));
    const std::string credential = base64Encode(std::string(kKey) + ":" + kSecret);
    rapidjson::Document token;
    token.Parse(call(emulator, "POST", "/oauth2/token", {"Authorization: Basic " + credential})
                    .body.c_str());
    const std::string bearer =
        std::string("Authorization: Bearer ") + token["data"]["token"].GetString();
    std::string answers;
    for (int i = 0; i < 30; ++i) {
      const Reply reply = call(emulator, "GET", "/translate?fileId=31", {bearer});
      answers += reply.status == 503 ? 'b' : '.';
      if (reply.status == 503) {
        EXPECT_NE(reply.head.find("\r\nRetry-After: 1\r\n"), std::string::npos) << reply.head;
      }
    }
    if (journal != nullptr) *journal = journalText(emulator);
    return answers;
  };
  std::string journal;
  const std::string first = answersWithSeed("2026", &journal);
  EXPECT_NE(first.find('b'), std::string::npos) << first;
  EXPECT_NE(first.find('.'), std::string::npos) << first;
  EXPECT_EQ(answersWithSeed("2026", nullptr), first);
  EXPECT_NE(answersWithSeed("2027", nullptr), first);
  EXPECT_EQ(countOf(journal, "\"note\":\"fault: status 503 (chance 0.4)\""),
            static_cast<size_t>(std::count(first.begin(), first.end(), 'b')));
}

// A scenario is replaced only by a valid one, and a reset starts its counts again.
TEST_F(EmulatorE2E, AScenarioIsReplacedAndTheStateReset) {
  writeFile(dir + "/bad.json", R"({"faults": [{"endpoint": "status", "request": 0}]})");
  ProcessResult refused = runProcess({MARLUNE_EMULATOR, "--scenario", dir + "/bad.json"});
  EXPECT_EQ(refused.exitStatus, 2);
  EXPECT_NE(refused.err.find("bad.json: \"faults\" 1: needs \"request\" (1 or more)"),
            std::string::npos)
      << refused.err;

  EmulatorProcess emulator(MARLUNE_EMULATOR, plainOptions());
  Reply put = call(emulator, "PUT", "/__emulator/scenario", {}, readFile(dir + "/bad.json"));
  EXPECT_EQ(put.status, 400);
  EXPECT_EQ(put.body,
            R"j({"message":"invalid scenario: \"faults\" 1: needs \"request\" (1 or more)"})j");
  put = call(emulator, "PUT", "/__emulator/scenario", {},
             R"({"jobs": {"21": [{"status": "failed", "message": "first"}, "success"]}})");
  EXPECT_EQ(put.status, 200);
  const std::string config = writeConfig(emulator, "waitfor", 21, false);
  runClient(config);
  EXPECT_EQ(result(), expected("failed", "first", 21));
  runClient(config);
  EXPECT_EQ(result(), expected("success", "account url is empty!", 21));

  ASSERT_EQ(call(emulator, "POST", "/__emulator/reset").status, 200);
  EXPECT_EQ(journalText(emulator), "[]");
  runClient(config);
  EXPECT_EQ(result(), expected("failed", "first", 21));
  EXPECT_EQ(journalOf(emulator).Size(), 2u);  // its token and its status query
}

// The command line: one line for a mistake, the version, why it cannot listen, and a warning
// for an address that other machines reach.
TEST_F(EmulatorE2E, TheCommandLineSaysWhatItDoes) {
  ProcessResult wrong = runProcess({MARLUNE_EMULATOR, "--port", "x"});
  EXPECT_EQ(wrong.exitStatus, 2);
  EXPECT_EQ(wrong.err, "marluneEmulator: bad value for --port: x; see --help\n");
  ProcessResult version = runProcess({MARLUNE_EMULATOR, "--version"});
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.out.rfind("marluneEmulator 1.0.0", 0), 0u) << version.out;

  // Why it cannot listen goes to standard error, also when the log goes to a file.
  EmulatorProcess first(MARLUNE_EMULATOR, {});
  const std::string port = std::to_string(first.port());
  ProcessResult taken = runProcess({MARLUNE_EMULATOR, "--port", port, "--log", dir + "/taken.log"});
  EXPECT_EQ(taken.exitStatus, 1);
  const std::string cannot = "marluneEmulator: cannot listen on 127.0.0.1:" + port + ": ";
  EXPECT_EQ(taken.err.rfind(cannot, 0), 0u) << taken.err;
  EXPECT_GT(taken.err.size(), cannot.size() + 1) << taken.err;

  EmulatorProcess open(MARLUNE_EMULATOR, {"--host", "0.0.0.0"});
  ASSERT_NE(open.port(), 0);
  EXPECT_EQ(call(open, "GET", "/__emulator/requests").body, "[]");
  EXPECT_EQ(
      open.logCount("warning: listening on 0.0.0.0, the emulator is reachable from other machines"),
      1u)
      << open.log();
}

// Requests the client would never send, over HTTP to the real emulator.
class EmulatorChecks : public ::testing::Test {
 protected:
  static std::vector<std::string> signedHeaders(const std::string& method,
                                                const std::string& target) {
    std::vector<std::string> lines;
    addGatewayHeaders(GatewayIdentity{kKey, kSecret, kTenant, "1024"}, "http://127.0.0.1" + target,
                      method, {}, lines);
    return lines;
  }

  static std::string put(const EmulatorProcess& emulator, const std::vector<std::string>& headers) {
    Reply answer = call(emulator, "PUT", "/v2/translate", headers, R"({"source":{"fileId":1}})");
    return std::to_string(answer.status) + " " + answer.body;
  }
};

TEST_F(EmulatorChecks, TamperedReplayedAndStaleRequestsAreRejected) {
  EmulatorProcess emulator(MARLUNE_EMULATOR,
                           {"--app-key", kKey, "--app-secret", kSecret, "--tenant", kTenant});
  // Signed correctly, but without a token: the service itself answers.
  std::vector<std::string> good = signedHeaders("PUT", "/v2/translate");
  EXPECT_EQ(put(emulator, good), R"(401 {"code":401,"message":"access token missing"})");
  EXPECT_EQ(put(emulator, good),
            R"(401 {"code":401,"message":"gateway check failed: x-ca-nonce replayed"})");

  std::vector<std::string> tampered = signedHeaders("PUT", "/v2/translate");
  for (std::string& line : tampered) {
    const std::string name = "x-ca-signature:";
    if (line.compare(0, name.size(), name) == 0) {
      char& first = line[name.size()];
      first = first == 'A' ? 'B' : 'A';
    }
  }
  EXPECT_EQ(put(emulator, tampered),
            R"(401 {"code":401,"message":"gateway check failed: x-ca-signature mismatch"})");

  std::vector<std::string> stale;
  {
    FakeTime sixteenMinutesAgo(platform::nowTicks() - 16LL * 60 * 10000000);
    stale = signedHeaders("PUT", "/v2/translate");
  }
  EXPECT_EQ(
      put(emulator, stale),
      R"(401 {"code":401,"message":"gateway check failed: x-ca-timestamp outside 15 minutes"})");

  std::vector<std::string> forAnotherPath = signedHeaders("PUT", "/v2/translate2");
  EXPECT_EQ(put(emulator, forAnotherPath),
            R"(401 {"code":401,"message":"gateway check failed: x-ca-signature mismatch"})");

#ifndef _WIN32  // wine gives a child without a console no Ctrl-Break: the stop is a kill there
  EXPECT_EQ(emulator.stop(), 0);
  EXPECT_NE(emulator.log().find("stopping on signal 15"), std::string::npos);
#endif
  EXPECT_EQ(emulator.logCount("gateway check failed: "), 4u) << emulator.log();
}

}  // namespace
