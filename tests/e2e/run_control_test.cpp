// The built client, run as a caller runs it: exit status, result file, log files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/client_run.h"
#include "support/file_util.h"
#include "support/job_config.h"
#include "support/process.h"

using namespace testing_support;

namespace {

// The client's file name ("marluneTranslate", or with ".exe").
std::string clientName() { return std::filesystem::path(MARLUNE_BINARY).filename().u8string(); }

// A copy of the client in a directory of its own; returns its path.
std::string copyOfTheClient(const std::string& dir) {
  std::string copy = dir + "/" + clientName();
  std::filesystem::copy_file(std::filesystem::u8path(MARLUNE_BINARY),
                             std::filesystem::u8path(copy));
  return copy;
}

// The variables that name a temporary directory, all set to `dir` (glog reads TMPDIR on
// POSIX systems, the system's TMP or TEMP on Windows).
std::vector<std::string> temporaryDirectory(const std::string& dir) {
  return {"TMPDIR=" + dir, "TMP=" + dir, "TEMP=" + dir};
}

// "marluneTranslate X.Y.Z" in decimal numbers, then possibly " (<describe>)" with no
// parenthesis or line break inside, then a line feed. Checked by hand: std::regex trips
// GCC 12's uninitialised-use warning in the sanitizer build.
bool isVersionLine(const std::string& text) {
  const std::string prefix = "marluneTranslate ";
  if (text.compare(0, prefix.size(), prefix) != 0) return false;
  size_t at = prefix.size();
  for (int part = 0; part < 3; ++part) {
    if (part > 0 && (at >= text.size() || text[at++] != '.')) return false;
    const size_t digits = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    if (at == digits) return false;
  }
  if (text.compare(at, 2, " (") == 0) {
    const size_t close = text.find_first_of("()\n", at + 2);
    if (close == std::string::npos || close == at + 2 || text[close] != ')') return false;
    at = close + 1;
  }
  return text.compare(at, std::string::npos, "\n") == 0;
}

std::vector<std::string> sortedEntries(const std::string& dir) {
  std::vector<std::string> names = listDir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

TEST(RunControl, NoConfigOptionExitsWithMinusOne) {
  // The client's temporary directory, where glog would put files of its own.
  std::string tmp = makeTempDir();
  const std::vector<std::string> earlierLogs = clientLogFiles(MARLUNE_BINARY);
  ProcessResult run = runProcess({MARLUNE_BINARY}, "", temporaryDirectory(tmp));
  EXPECT_EQ(run.exitStatus, 255);
  EXPECT_NE(run.err.find("marluneTranslate.cpp:"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("] -cfg empty!\n"
                         "marluneTranslate: no -cfg FILE given; see marluneTranslate --help\n"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.out, " log dir is " + clientLogBase(MARLUNE_BINARY) + "\n");
  EXPECT_EQ(listDir(tmp), std::vector<std::string>()) << "the ERROR line was copied to " << tmp;

  // The run's own log file holds the line; only its user and group may read it.
  std::vector<std::string> logs = logFilesOfRun(MARLUNE_BINARY, run.id, earlierLogs);
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_NE(asWritten(readFile(logs[0])).find("marluneTranslate.cpp:92] -cfg empty!\n"),
            std::string::npos);
#ifndef _WIN32
  EXPECT_EQ(std::filesystem::status(logs[0]).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read);
#endif
}

// The reason is one plain line of standard error after the log's lines, none of them.
TEST(RunControl, AConfigThatFailsToLoadWritesNoResultAndSaysWhy) {
  std::string dir = makeTempDir();
  writeFile(dir + "/job.json", JobConfig("translate", "http://127.0.0.1:9", dir + "/result.json")
                                   .remove("appsecret")
                                   .remove("requestbody"));
  ProcessResult run = runProcess({MARLUNE_BINARY, "-cfg", dir + "/job.json"});
  EXPECT_EQ(run.exitStatus, 255);
  EXPECT_FALSE(fileExists(dir + "/result.json"));
  EXPECT_EQ(run.err, "marluneTranslate: " + dir + "/job.json: appsecret is empty!\n");

  writeFile(dir + "/bad.json", "[]");
  run = runProcess({MARLUNE_BINARY, "-cfg", dir + "/bad.json"});
  EXPECT_EQ(run.exitStatus, 255);
  EXPECT_NE(run.err.find("]  load config error!\nmarluneTranslate: " + dir +
                         "/bad.json: not a JSON object\n"),
            std::string::npos)
      << run.err;
}

TEST(RunControl, AnUnknownCommandRunsNothingAndReportsFailure) {
  std::string dir = makeTempDir();
  writeFile(dir + "/job.json",
            JobConfig("upload", "http://127.0.0.1:9", dir + "/result.json").fileId(77));
  ProcessResult run = runProcess({MARLUNE_BINARY, "-cfg", dir + "/job.json"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(readFile(dir + "/result.json"),
            R"({"code":"failed","message":"unknown cmdtype upload: use translate, waitfor or )"
            R"(translatewaitfor","data":{"fileitemid":"77"}})");
  EXPECT_EQ(
      countOf(run.err, "] unknown cmdtype upload: use translate, waitfor or translatewaitfor"), 1u)
      << run.err;
  EXPECT_EQ(run.out,
            "-cfg\n" + dir + "/job.json\n log dir is " + clientLogBase(MARLUNE_BINARY) + "\n");
  EXPECT_NE(run.err.find("]  load config success."), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("] spend time: 0 seconds."), std::string::npos) << run.err;
}

// A caller that closed standard error loses no log line, and one that pipes the configuration
// in gets its job run.
TEST(RunControl, AClosedStandardErrorAndAPipedConfigurationWork) {
#ifdef _WIN32
  GTEST_SKIP() << "needs a POSIX shell";
#else
  std::string dir = makeTempDir();
  writeFile(dir + "/job.json",
            JobConfig("none", "http://127.0.0.1:9", dir + "/result.json").remove("requestbody"));
  const std::vector<std::string> earlierLogs = clientLogFiles(MARLUNE_BINARY);
  ProcessResult run = runProcess(
      {"/bin/sh", "-c", "exec \"$0\" -cfg \"$1\" 2>&-", MARLUNE_BINARY, dir + "/job.json"});
  EXPECT_EQ(run.exitStatus, 0);
  std::vector<std::string> logs = logFilesOfRun(MARLUNE_BINARY, run.id, earlierLogs);
  ASSERT_EQ(logs.size(), 1u);
  const std::string log = readFile(logs[0]);
  for (const char* line : {"] job ", "]  load config success.", "] unknown cmdtype none",
                           "] spend time: ", "] verdict failed"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  }
  removeTree(dir + "/result.json");
  run = runProcess(
      {"/bin/sh", "-c", "cat \"$1\" | \"$0\" -cfg /dev/stdin", MARLUNE_BINARY, dir + "/job.json"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_TRUE(fileExists(dir + "/result.json"));
  removeTree(dir);
#endif
}

TEST(RunControl, WithoutAUsableLogsDirectoryEveryLineGoesToStandardErrorOnly) {
  // A regular file named "logs" stops even root from logging beside the program.
  std::string dir = makeTempDir();
  std::string client = copyOfTheClient(dir);
  writeFile(dir + "/logs", "");
  writeFile(dir + "/job.json",
            JobConfig("none", "http://127.0.0.1:9", dir + "/result.json").remove("requestbody"));
  std::string tmp = makeTempDir();
  ProcessResult run = runProcess({client, "-cfg", dir + "/job.json"}, "", temporaryDirectory(tmp));
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, "-cfg\n" + dir + "/job.json\n");
  EXPECT_EQ(countOf(run.err, "cannot write log files in " + clientLogDir(client) + ";"), 1u)
      << run.err;
  EXPECT_NE(run.err.find("marluneTranslate.cpp:"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("]  load config success."), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("] spend time: 0 seconds."), std::string::npos) << run.err;
  EXPECT_EQ(sortedEntries(dir),
            (std::vector<std::string>{"job.json", "logs", clientName(), "result.json"}));
  EXPECT_EQ(readFile(dir + "/logs"), "");
  EXPECT_EQ(listDir(tmp), std::vector<std::string>());
}

TEST(RunControl, HelpAndVersionAnswerOnStandardOutputAndLogNothing) {
  std::string dir = makeTempDir();
  std::string client = copyOfTheClient(dir);
  for (const char* option : {"--help", "-h"}) {
    ProcessResult run = runProcess({client, option});
    EXPECT_EQ(run.exitStatus, 0) << option;
    EXPECT_EQ(run.err, "") << option;
    EXPECT_EQ(run.out.rfind("usage: marluneTranslate -cfg FILE\n", 0), 0u) << run.out;
    for (const char* key : {"cmdtype", "rooturl", "appkey", "appsecret", "output", "requestbody",
                            "overtime", "tokenurl", "translateurl", "statusurl", "tenantid",
                            "orgid", "accounturl", "gatewaytokenurl", "projecturl"}) {
      EXPECT_NE(run.out.find(std::string("\n  ") + key + " "), std::string::npos) << key;
    }
    EXPECT_NE(run.out.find("Log files: " + clientLogBase(client)), std::string::npos) << run.out;
  }
  for (const char* option : {"--version", "-v"}) {
    ProcessResult run = runProcess({client, option});
    EXPECT_EQ(run.exitStatus, 0) << option;
    EXPECT_EQ(run.err, "") << option;
    EXPECT_TRUE(isVersionLine(run.out)) << run.out;
  }
  EXPECT_EQ(listDir(dir), std::vector<std::string>{clientName()}) << "a logs directory";

  // Beside other arguments they are arguments like any other.
  ProcessResult run = runProcess({client, "--help", "-v"});
  EXPECT_EQ(run.exitStatus, 255);
  EXPECT_EQ(run.out, "--help\n-v\n log dir is " + clientLogBase(client) + "\n");
}

// A client installed as the package and cmake --install install it, in
// <prefix>/lib/marlune-translate, logs into its user's state folder, never beside itself;
// without one, to standard error only.
TEST(RunControl, AnInstalledClientLogsIntoItsUsersStateFolder) {
  const std::string dir = makeTempDir();
  const std::string programDir = dir + "/lib/marlune-translate";
  std::filesystem::create_directories(std::filesystem::u8path(programDir));
  const std::string client = copyOfTheClient(programDir);
  std::filesystem::create_directory(std::filesystem::u8path(dir + "/home"));
  writeFile(dir + "/job.json",
            JobConfig("none", "http://127.0.0.1:9", dir + "/result.json").remove("requestbody"));
#ifdef _WIN32
  const std::string home = "LOCALAPPDATA=", logs = "\\marlune-translate\\logs\\";
#else
  const std::string home = "HOME=", logs = "/.local/state/marlune-translate/logs/";
#endif
  ProcessResult run = runProcess({client, "-cfg", dir + "/job.json"}, "", {home + dir + "/home"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, "-cfg\n" + dir + "/job.json\n log dir is " + dir + "/home" + logs +
                         "marluneTranslate.log.\n");
  EXPECT_EQ(listDir(dir + "/home" + logs).size(), 1u);

  ProcessResult homeless = runProcess({client, "-cfg", dir + "/job.json"}, "", {home});
  EXPECT_EQ(homeless.exitStatus, 0);
  EXPECT_EQ(countOf(homeless.err, "cannot write log files in "), 1u) << homeless.err;
  EXPECT_EQ(listDir(programDir), std::vector<std::string>{clientName()});
  removeTree(dir);
}

// The output path is UTF-8 in the configuration; the file gets the name written there, on
// Windows whatever its ANSI code page, and the console's lines end as the system ends them.
TEST(RunControl, AChineseResultPathGetsItsNameAndLinesEndAsTheSystemEndsThem) {
  std::string dir = makeTempDir();
  const std::string name = "\xE7\xBB\x93\xE6\x9E\x9C-result.json";  // "result" in Chinese
  writeFile(dir + "/job.json", JobConfig("none", "http://127.0.0.1:9", dir + "/" + name).fileId(5));
  ProcessOptions options;
  options.stdoutPath = dir + "/stdout";
  ChildProcess child({MARLUNE_BINARY, "-cfg", dir + "/job.json"}, options);
  EXPECT_EQ(child.wait(), 0);
  EXPECT_EQ(readFile(dir + "/" + name), R"({"code":"failed","message":"unknown cmdtype none: use )"
                                        R"(translate, waitfor or translatewaitfor",)"
                                        R"("data":{"fileitemid":"5"}})");
#ifdef _WIN32
  const std::string lineEnd = "\r\n";
#else
  const std::string lineEnd = "\n";
#endif
  EXPECT_EQ(readFile(dir + "/stdout"), "-cfg" + lineEnd + dir + "/job.json" + lineEnd +
                                           " log dir is " + clientLogBase(MARLUNE_BINARY) +
                                           lineEnd);
}

}  // namespace
