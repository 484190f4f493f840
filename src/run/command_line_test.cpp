// The command line and the log set-up.
#include "run/command_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <vector>

#include "platform/platform.h"
#include "support/capture.h"
#include "support/file_util.h"
#include "support/process.h"

#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#endif

namespace {

struct Parsed {
  bool result;
  std::string printed;
  std::string config;
};

Parsed parse(std::vector<std::string> args) {
  optionMap().clear();
  std::vector<char*> argv;
  std::string program = "marluneTranslate";
  argv.push_back(&program[0]);
  for (std::string& arg : args) argv.push_back(&arg[0]);
  testing_support::CoutCapture capture;
  bool result = parseCommandLine(static_cast<int>(argv.size()), argv.data());
  return {result, capture.text(), optionMap()["-cfg"]};
}

std::string logLine() {
  const std::string exe = platform::programPath("");
  const std::string separator = platform::kPathSeparator;
  return " log dir is " + exe.substr(0, exe.rfind(separator) + 1) + "logs" + separator +
         "marluneTranslate.log.\n";
}

TEST(ParseCommandLine, TakesTheValueAfterCfgAndEchoesEveryArgument) {
  Parsed p = parse({"-cfg", "job.json"});
  EXPECT_TRUE(p.result);
  EXPECT_EQ(p.config, "job.json");
  EXPECT_EQ(p.printed, "-cfg\njob.json\n" + logLine());
}

TEST(ParseCommandLine, ArgumentsWithoutAWaitingOptionAreDropped) {
  Parsed before = parse({"job.json", "-cfg"});
  EXPECT_FALSE(before.result);
  EXPECT_EQ(before.config, "");

  Parsed extra = parse({"-cfg", "a.json", "b.json"});
  EXPECT_TRUE(extra.result);
  EXPECT_EQ(extra.config, "a.json");

  Parsed upper = parse({"-CFG", "a.json"});
  EXPECT_FALSE(upper.result);
  EXPECT_EQ(optionMap().size(), 1u);  // only the look-up's empty "-cfg"
}

TEST(ParseCommandLine, ARepeatedCfgEmptiesTheValueAgain) {
  EXPECT_FALSE(parse({"-cfg", "a.json", "-cfg"}).result);
  Parsed twice = parse({"-cfg", "-cfg", "a.json"});
  EXPECT_TRUE(twice.result);
  EXPECT_EQ(twice.config, "a.json");
}

TEST(ParseCommandLine, NoArgumentsStillSetsUpTheLog) {
  Parsed p = parse({});
  EXPECT_FALSE(p.result);
  EXPECT_EQ(p.printed, logLine());
  std::string exe = platform::programPath("");
  EXPECT_TRUE(
      platform::pathExists(exe.substr(0, exe.rfind(platform::kPathSeparator) + 1) + "logs"));
}

TEST(InitLogging, AMissingDirectoryIsNamedOnStandardErrorInsteadOfTheLogLine) {
  std::ostringstream err;
  std::streambuf* savedErr = std::cerr.rdbuf(err.rdbuf());
  testing_support::CoutCapture capture;
  initLogging("/nonexistent-marlune-dir/logs");
  std::cerr.rdbuf(savedErr);
  EXPECT_EQ(capture.text(), "");
  EXPECT_EQ(err.str(),
            "marluneTranslate: cannot write log files in /nonexistent-marlune-dir/logs; "
            "logging to standard error only\n");
}

// A log file that cannot be made, as when another user took the names of the next process
// ids in advance, leads to the one-line notice alone, without glog's own complaint.
TEST(InitLogging, ALogFileThatCannotBeMadeGivesTheNoticeAlone) {
  const std::string dir = testing_support::makeTempDir();
  const std::time_t now = std::time(nullptr);
  for (std::time_t second = now; second <= now + 2; ++second) {
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%Y%m%d-%H%M%S", std::localtime(&second));
    std::filesystem::create_directory(dir + "/marluneTranslate.log." + stamp + "." +
                                      std::to_string(getpid()));
  }
  // Everything written to the standard error descriptor, glog's complaints included.
  const std::string errDir = testing_support::makeTempDir();
  const std::string errPath = errDir + "/stderr";
  std::fflush(stderr);
  const int saved = dup(2);
  const int errFile = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(errFile, 0);
  dup2(errFile, 2);
  close(errFile);
  testing_support::CoutCapture capture;
  initLogging(dir);
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  EXPECT_EQ(capture.text(), "");
  EXPECT_EQ(
      testing_support::asWritten(testing_support::readFile(errPath)),
      "marluneTranslate: cannot write log files in " + dir + "; logging to standard error only\n");
  testing_support::removeTree(dir);
  testing_support::removeTree(errDir);
}

// On a full file system glog makes its file but cannot write into it; a file size limit fails
// the writes the same way. The notice says so, and the file that holds no whole header goes.
TEST(InitLogging, ALogFileThatTakesNotItsWholeHeaderGivesTheNotice) {
#ifdef _WIN32
  GTEST_SKIP() << "the writes are made to fail by a file size limit, which Windows does not have";
#else
  const std::string dir = testing_support::makeTempDir();
  struct rlimit before {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  struct rlimit small = before;
  small.rlim_cur = 20;  // a part of the header
  void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::ostringstream err;
  std::streambuf* savedErr = std::cerr.rdbuf(err.rdbuf());
  testing_support::CoutCapture capture;
  initLogging(dir);
  std::cerr.rdbuf(savedErr);
  setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(capture.text(), "");
  EXPECT_EQ(err.str(), "marluneTranslate: cannot write log files in " + dir +
                           "; logging to standard error only\n");
  for (const std::string& name : testing_support::listDir(dir)) {
    EXPECT_EQ(name.find("marluneTranslate.log."), std::string::npos) << name;
  }
  testing_support::removeTree(dir);
#endif
}

}  // namespace
