// Process entry and the run of a job: dispatch, timing and the result document.
#include "run/marluneTranslate.h"

#include <openssl/crypto.h>

#include <cstdio>

#include "platform/file_replace.h"
#include "platform/interrupt.h"
#include "platform/platform.h"
#include "run/command_line.h"
#include "run/config.h"
#include "run/result_document.h"
#include "run/translate_job.h"
#include "transport/http_exchange.h"
#include "util/ascii.h"
#include "util/log.h"

namespace {

// Runs `cleanup` when the scope is left by any path.
template <typename F>
class ScopeGuard {
 public:
  explicit ScopeGuard(F cleanup) : cleanup_(cleanup) {}
  ~ScopeGuard() { cleanup_(); }
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;

 private:
  F cleanup_;
};

}  // namespace

// libcurl's global state belongs to the transport session, which lives for the whole run.
bool TranslateJob::run() {
  tokenExpiry = platform::nowTicks();
  int64_t start = platform::nowTicks();

  bool succeeded = false;
  if (equalsIgnoreCase(cmdType, "translate")) {
    succeeded = commitTranslate();
  } else if (equalsIgnoreCase(cmdType, "waitfor")) {
    succeeded = waitForTranslate();
  } else if (equalsIgnoreCase(cmdType, "translatewaitfor")) {
    succeeded = commitTranslate() && waitForTranslate();
  }

  int64_t end = platform::nowTicks();
  MLOG(INFO, kSpendTime) << "spend time: " << (end - start) / platform::kTicksPerSecond
                         << " seconds.";
  if (platform::interruptRequest() != 0) {
    succeeded = false;
    message = "interrupted";
  }

  std::string reason;
  bool written = writeResultFile(outputPath, succeeded, message, fileId, reason);
  if (!written) {
    MLOG(ERROR, kOutputResultFailed) << "output result failed!";
    MLOG(ERROR, kOutputResultReason) << "cannot write " << outputPath << ": " << reason;
  }
  return written;
}

bool TranslateJob::clearEarlierResult() {
  std::string reason;
  if (platform::clearFile(outputPath, reason)) return true;
  message = "cannot clear the earlier result " + outputPath + ": " + reason;
  MLOG(ERROR, kEarlierResultKept) << message;
  return false;
}

int marluneMain(int argc, char** argv) {
  // The process ends right after its run: OpenSSL's tables are left to the system rather
  // than freed one by one at exit, which cost a short run several percent of its time.
  OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
  platform::ignoreBrokenPipes();
  if (printRequestedInfo(argc, argv)) return 0;  // before the log set-up: no log file
  google::InitGoogleLogging("");
  ScopeGuard<void (*)()> loggingShutdown(google::ShutdownGoogleLogging);
  if (!parseCommandLine(argc, argv)) {
    MLOG(ERROR, kCfgEmpty) << "-cfg empty!";
    std::fputs("marluneTranslate: no -cfg FILE given; see marluneTranslate --help\n", stderr);
    return -1;
  }
  // Every request of the run, the project lookup while the configuration loads included,
  // goes through this one session; it ends before logging does.
  TransportSession transport;
  // From here on a request to end the process cuts the pause or transfer under way short; the
  // run writes its result and then ends as the request would have ended it.
  platform::InterruptWatch interrupts;
  TranslateJob job;
  const bool loaded = job.loadConfig(optionMap()["-cfg"]);
  if (loaded) {
    job.run();
  } else {
    std::fputs(loadFailureLine(optionMap()["-cfg"], job.message).c_str(), stderr);
  }
  if (const int request = platform::interruptRequest()) {
    MLOG(ERROR, kInterrupted) << "interrupted by " << platform::interruptName(request);
    platform::endAsInterrupted(request);
  }
  return loaded ? 0 : -1;
}
