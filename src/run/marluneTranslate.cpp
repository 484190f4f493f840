// Process entry and the run of a job: dispatch, timing and the result document.
#include "run/marluneTranslate.h"

#include <openssl/crypto.h>

#include <cstdio>
#include <functional>

#include "platform/platform.h"
#include "run/command_line.h"
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

// Puts a file's content; false when a write failed.
using FileWriter = std::function<bool(std::FILE*)>;

// Writes with `write` to `file` and closes it; false when any of it failed.
bool writeWhole(std::FILE* file, const FileWriter& write) {
  if (file == nullptr) return false;
  bool written = write(file);
  written = std::fflush(file) == 0 && written;
  return std::fclose(file) == 0 && written;
}

// writeTextFile with the content put by `write`.
bool replaceFileWith(const std::string& localPath, const FileWriter& write) {
  // Devices, pipes and links are written through, as they are not ours to replace.
  if (platform::pathKind(localPath) == platform::PathKind::kOther) {
    return writeWhole(platform::openForWriting(localPath), write);
  }
  const std::string temporary = localPath + "." + platform::makeUuid() + ".tmp";
  platform::RemoveOnTermination cleanUp(temporary);
  std::FILE* file = platform::openForWriting(temporary, true);
  if (file != nullptr) {
    if (!writeWhole(file, write)) {
      platform::removeFile(temporary);
      return false;  // the old result stays as it was
    }
    if (platform::replaceFile(temporary, localPath)) return true;
    platform::removeFile(temporary);
  }
  // Where no file can be made beside it, or moved over it (a sticky directory holding
  // another user's file), the result is written in place, as it always could be.
  return writeWhole(platform::openForWriting(localPath), write);
}

}  // namespace

bool writeTextFile(std::string localPath, std::string text) {
  return replaceFileWith(localPath, [&text](std::FILE* file) {
    return std::fwrite(text.data(), 1, text.size(), file) == text.size();
  });
}

bool writeResultFile(const std::string& localPath, bool succeeded, const std::string& message,
                     const std::string& fileId) {
  return replaceFileWith(localPath, [&](std::FILE* file) {
    return writeResultDocument(file, succeeded, message, fileId);
  });
}

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

  bool written = writeResultFile(outputPath, succeeded, message, fileId);
  if (!written) MLOG(ERROR, kOutputResultFailed) << "output result failed!";
  return written;
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
  TranslateJob job;
  if (!job.loadConfig(optionMap()["-cfg"])) return -1;
  job.run();
  return 0;
}
