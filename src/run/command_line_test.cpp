#include "run/command_line.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <vector>

#include "platform/platform.h"
#include "support/capture.h"

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

}  // namespace
