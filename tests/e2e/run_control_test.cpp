// The built client, run as a caller runs it: exit status, result file, log files.
#include <gtest/gtest.h>

#include "support/file_util.h"
#include "support/process.h"

using namespace testing_support;

namespace {

std::string binaryDir() {
  std::string binary = MARLUNE_BINARY;
  return binary.substr(0, binary.rfind('/') + 1);
}

TEST(RunControl, NoConfigOptionExitsWithMinusOne) {
  ProcessResult run = runProcess({MARLUNE_BINARY});
  EXPECT_EQ(run.exitStatus, 255);
  EXPECT_NE(run.err.find("marluneTranslate.cpp:"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("] -cfg empty!"), std::string::npos) << run.err;
  EXPECT_EQ(run.out, " log dir is " + binaryDir() + "logs/marluneTranslate.log.\n");

  bool found = false;
  for (const std::string& name : listDir(binaryDir() + "logs")) {
    if (name.rfind("marluneTranslate.log.", 0) != 0) continue;
    std::string log = readFile(binaryDir() + "logs/" + name);
    if (log.find("marluneTranslate.cpp:") != std::string::npos &&
        log.find("-cfg empty!") != std::string::npos) {
      found = true;
    }
  }
  EXPECT_TRUE(found) << "no log file with the line in " << binaryDir() << "logs";
}

TEST(RunControl, AConfigThatFailsToLoadWritesNoResult) {
  std::string dir = makeTempDir();
  writeFile(dir + "/job.json",
            R"({"cmdtype":"translate","rooturl":"http://127.0.0.1:9","appkey":"k","output":")" +
                dir + R"(/result.json"})");
  ProcessResult run = runProcess({MARLUNE_BINARY, "-cfg", dir + "/job.json"});
  EXPECT_EQ(run.exitStatus, 255);
  EXPECT_FALSE(fileExists(dir + "/result.json"));

  writeFile(dir + "/bad.json", "[]");
  run = runProcess({MARLUNE_BINARY, "-cfg", dir + "/bad.json"});
  EXPECT_EQ(run.exitStatus, 255);
  EXPECT_NE(run.err.find("]  load config error!"), std::string::npos) << run.err;
}

TEST(RunControl, AnUnknownCommandRunsNothingAndReportsFailure) {
  std::string dir = makeTempDir();
  writeFile(dir + "/job.json",
            R"({"cmdtype":"upload","rooturl":"http://127.0.0.1:9","appkey":"k","appsecret":"s",)"
            R"("requestbody":{"source":{"fileId":77}},"output":")" +
                dir + R"(/result.json"})");
  ProcessResult run = runProcess({MARLUNE_BINARY, "-cfg", dir + "/job.json"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(readFile(dir + "/result.json"),
            R"({"code":"failed","message":"account url is empty!","data":{"fileitemid":"77"}})");
  EXPECT_EQ(run.out, "-cfg\n" + dir + "/job.json\n log dir is " + binaryDir() +
                         "logs/marluneTranslate.log.\n");
  EXPECT_NE(run.err.find("]  load config success."), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("] spend time: 0 seconds."), std::string::npos) << run.err;
}

TEST(RunControl, AnUnwritableOutputIsLoggedButTheExitStatusIsZero) {
  std::string dir = makeTempDir();
  writeFile(dir + "/job.json",
            R"({"cmdtype":"none","rooturl":"r","appkey":"k","appsecret":"s","output":")" + dir +
                R"(/missing/result.json"})");
  ProcessResult run = runProcess({MARLUNE_BINARY, "-cfg", dir + "/job.json"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_NE(run.err.find("] output result failed!"), std::string::npos) << run.err;
}

}  // namespace
