// Many clients at once against one emulator, sharing one logs directory, as a batch
// script would start them: every run must get its own correct result and log file.
#include <gtest/gtest.h>

#include <cctype>
#include <memory>

#include "support/client_run.h"
#include "support/emulator_process.h"
#include "support/file_util.h"
#include "support/job_config.h"
#include "support/process.h"

using namespace testing_support;

namespace {

const int kClients = 20;

// Starts the client on `config` with its output in `dir`.
std::unique_ptr<ChildProcess> startClient(const std::string& config, const std::string& dir) {
  ProcessOptions options;
  options.stdoutPath = dir + "/stdout";
  options.stderrPath = dir + "/stderr";
  options.environment = withVariable(defaultEnvironment(), "TZ=UTC");
  return std::make_unique<ChildProcess>(std::vector<std::string>{MARLUNE_BINARY, "-cfg", config},
                                        options);
}

// True for a whole glog line: "I20261208 09:10:11.123456  4242 marluneTranslate.cpp:77] text".
bool isLogLine(const std::string& line) {
  const std::string shape = "X00000000 00:00:00.000000 ";
  if (line.size() < shape.size() || (line[0] != 'I' && line[0] != 'E')) return false;
  for (size_t i = 1; i < shape.size(); ++i) {
    bool digit = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
    if ((shape[i] == '0') != digit || (!digit && line[i] != shape[i])) return false;
  }
  size_t file = line.find(" marluneTranslate.cpp:", shape.size());
  if (file == std::string::npos) return false;
  size_t close = line.find("] ", file);
  return close != std::string::npos && line.find_first_not_of(' ', shape.size()) < file;
}

// True when a log file is glog's header followed by whole log lines.
bool isIntactLog(const std::string& log) {
  size_t start = 0;
  bool header = true;
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    if (end == std::string::npos) return false;  // a cut-off last line
    std::string text = log.substr(start, end - start);
    if (header && text.rfind("Log line format:", 0) == 0) {
      header = false;
    } else if (!header && !isLogLine(text)) {
      return false;
    }
    start = end + 1;
  }
  return !header;
}

TEST(ParallelRuns, TwentyClientsAtOnceEachGetTheirOwnResultAndLog) {
  EmulatorProcess emulator(MARLUNE_EMULATOR, {"--tenant", "t-par", "--org", "org-par",
                                              "--project-id", "77", "--job-duration", "3"});
  ASSERT_NE(emulator.port(), 0);
  // Earlier runs' files stay in the shared directory, and pids wrap around.
  const std::vector<std::string> earlierLogs = clientLogFiles(MARLUNE_BINARY);
  std::vector<std::unique_ptr<ChildProcess>> clients;
  std::vector<std::string> dirs;
  for (int i = 0; i < kClients; ++i) {
    dirs.push_back(makeTempDir());
    std::string config = dirs[i] + "/job.json";
    writeFile(config, JobConfig("translatewaitfor", emulator.url(), dirs[i] + "/result.json")
                          .gateway(emulator.url(), "t-par", "org-par")
                          .set("appkey", "demo-app-key")
                          .set("appsecret", "demo-app-secret")
                          .fileId(1000 + i)
                          .set("overtime", 60));
    clients.push_back(startClient(config, dirs[i]));
  }
  for (int i = 0; i < kClients; ++i) {
    EXPECT_EQ(clients[i]->wait(), 0) << "client " << i;
    EXPECT_EQ(readFile(dirs[i] + "/result.json"),
              R"({"code":"success","message":"translate job accepted for file )" +
                  std::to_string(1000 + i) + R"(","data":{"fileitemid":")" +
                  std::to_string(1000 + i) + "\"}}")
        << "client " << i << ": " << readFile(dirs[i] + "/stderr");
    // It has one log file of its own, which holds whole lines only.
    std::vector<std::string> logs = logFilesOfRun(MARLUNE_BINARY, clients[i]->id(), earlierLogs);
    ASSERT_EQ(logs.size(), 1u) << "client " << i;
    std::string log = asWritten(readFile(logs[0]));
    EXPECT_TRUE(isIntactLog(log)) << logs[0] << ":\n" << log;
    EXPECT_NE(log.find(" load config success.\n"), std::string::npos) << logs[0];
    EXPECT_NE(log.find("] spend time: "), std::string::npos) << logs[0];
  }
  EXPECT_EQ(emulator.logCount("gateway check failed"), 0u) << emulator.log();
}

}  // namespace
