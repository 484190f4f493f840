// Process entry: logging, the command line, the steps that make a job ready to run, and the
// end of the process.
#include "run/marluneTranslate.h"

#include <openssl/crypto.h>

#include <cstdio>

#include "platform/interrupt.h"
#include "platform/platform.h"
#include "run/command_line.h"
#include "run/config.h"
#include "run/translate_job.h"
#include "transport/http_exchange.h"
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

// Loads the configuration at `path` into `job` and readies what the run needs, in this order,
// all before the first request: the CA file every request trusts, no earlier result left at
// the output path, then the project id, looked up through the gateway (the first request).
// False, with the reason in the job's message, when the job cannot run.
bool prepareJob(TranslateJob& job, const std::string& path) {
  if (!job.loadConfig(path)) return false;
  trustOnlyCaFile(job.caFile);
  if (!job.clearEarlierResult()) return false;
  job.projectId = job.lookupProjectId();
  MLOG(INFO, kLoadConfigSuccess) << " load config success.";
  return true;
}

}  // namespace

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
  // Every request of the run, the project lookup included, goes through this one session; it
  // ends before logging does.
  TransportSession transport;
  // From here on a request to end the process cuts the pause or transfer under way short; the
  // run writes its result and then ends as the request would have ended it.
  platform::InterruptWatch interrupts;
  TranslateJob job;
  const std::string& path = optionMap()["-cfg"];
  const bool ready = prepareJob(job, path);
  if (ready) {
    job.run();
  } else {
    std::fputs(loadFailureLine(path, job.message).c_str(), stderr);
  }
  if (const int request = platform::interruptRequest()) {
    MLOG(ERROR, kInterrupted) << "interrupted by " << platform::interruptName(request);
    platform::endAsInterrupted(request);
  }
  return ready ? 0 : -1;
}
