// Logging for the whole program. Every line carries the main source file's name and a line
// number in glog's prefix, whichever file logs it. Log watchers match on those numbers, so
// each line has its own fixed number here instead of the place its code happens to stand.
#pragma once

#include <glog/logging.h>

#define MARLUNE_LOG_FILE "marluneTranslate.cpp"

// The program's log lines and the numbers they carry.
enum class LogLine : int {
  kSpendTime = 80,           // INFO "spend time: <n> seconds."
  kOutputResultFailed = 83,  // ERROR "output result failed!"
  kOutputResultReason = 84,  // ERROR "cannot write <path>: <reason>"
  kEarlierResultKept = 86,   // ERROR "cannot clear the earlier result <path>: <reason>"
  kInterrupted = 88,         // ERROR "interrupted by <SIGTERM, SIGINT, SIGHUP, Ctrl-C, ...>"
  kCfgEmpty = 92,            // ERROR "-cfg empty!"
  kLoadConfigError = 143,    // ERROR " load config error!"
  kNoProjectId = 151,        // ERROR "project lookup found no project id: <reason>"
  kMaxRetry = 173,           // ERROR "<url> connect failed!!! max retry 32"
  kRetry = 178,              // ERROR "<url> connect failed!!! retry <n>"
  kRequestFailed = 185,      // ERROR "<request> failed: <libcurl's explanation>"
  kLoadConfigSuccess = 189,  // INFO " load config success."
  kPassingTrouble = 191,     // WARNING "<request>: HTTP <status> tells nothing of the job: <body>"
  kPollRefused = 193,        // INFO "getTranslateStatus: ... asking for a new token ..."
  kNoServiceToken = 195,     // ERROR "getMarluneAccessToken: <what the answer said>"
  kConfigWarning = 197,      // WARNING "unknown key ...", "overtime ... is not a whole number ..."
  kUnknownCommand = 198,     // WARNING "unknown cmdtype ...: use translate, waitfor or ..."
  kJob = 199,                // INFO "job <config>: cmdtype ..., file ..., ... mode, rooturl ..."
  kWaitProgress = 201,       // INFO "file <id> processing, <n> s of <overtime>"
  kVerdict = 203,            // INFO "verdict <code> (<message>) written to <path>"
};

// Logs at INFO, WARNING or ERROR as one of the lines above:
//   MLOG(ERROR, kCfgEmpty) << "-cfg empty!";
#define MLOG(severity, line)                                                                     \
  google::LogMessage(MARLUNE_LOG_FILE, static_cast<int>(LogLine::line), google::GLOG_##severity) \
      .stream()
