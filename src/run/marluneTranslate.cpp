// Process entry and the run of a job: dispatch, timing and the result document.
#include "run/marluneTranslate.h"

#include <curl/curl.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "run/command_line.h"
#include "run/translate_job.h"
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

// Writes all of `text` to `file` and closes it; false when any of it failed.
bool writeWhole(std::FILE* file, const std::string& text) {
  if (file == nullptr) return false;
  bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  written = std::fflush(file) == 0 && written;
  return std::fclose(file) == 0 && written;
}

void writeString(rapidjson::Writer<rapidjson::StringBuffer>& writer, const std::string& text) {
  writer.String(text.c_str(), static_cast<rapidjson::SizeType>(strnlen(text.c_str(), text.size())));
}

}  // namespace

std::string buildResultDocument(bool succeeded, const std::string& message,
                                const std::string& fileId) {
  rapidjson::StringBuffer buffer(nullptr, message.size() + fileId.size() + 64);
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("code");
  writer.String(succeeded ? "success" : "failed");
  writer.Key("message");
  writeString(writer, message);
  writer.Key("data");
  writer.StartObject();
  writer.Key("fileitemid");
  writeString(writer, fileId);
  writer.EndObject();
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

bool writeTextFile(std::string localPath, std::string text) {
  // Devices, pipes and links are written through, as they are not ours to replace.
  if (platform::pathKind(localPath) == platform::PathKind::kOther) {
    return writeWhole(platform::openForWriting(localPath), text);
  }
  const std::string temporary = localPath + "." + platform::makeUuid() + ".tmp";
  platform::RemoveOnTermination cleanUp(temporary);
  std::FILE* file = platform::openForWriting(temporary, true);
  if (file != nullptr) {
    if (!writeWhole(file, text)) {
      platform::removeFile(temporary);
      return false;  // the old result stays as it was
    }
    if (platform::replaceFile(temporary, localPath)) return true;
    platform::removeFile(temporary);
  }
  // Where no file can be made beside it, or moved over it (a sticky directory holding
  // another user's file), the result is written in place, as it always could be.
  return writeWhole(platform::openForWriting(localPath), text);
}

bool TranslateJob::run() {
  curl_global_init(CURL_GLOBAL_ALL);
  ScopeGuard<void (*)()> curlCleanup(curl_global_cleanup);

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

  bool written = writeTextFile(outputPath, buildResultDocument(succeeded, message, fileId));
  if (!written) MLOG(ERROR, kOutputResultFailed) << "output result failed!";
  return written;
}

int marluneMain(int argc, char** argv) {
  platform::ignoreBrokenPipes();
  if (printRequestedInfo(argc, argv)) return 0;  // before the log set-up: no log file
  google::InitGoogleLogging("");
  ScopeGuard<void (*)()> loggingShutdown(google::ShutdownGoogleLogging);
  if (!parseCommandLine(argc, argv)) {
    MLOG(ERROR, kCfgEmpty) << "-cfg empty!";
    std::fputs("marluneTranslate: no -cfg FILE given; see marluneTranslate --help\n", stderr);
    return -1;
  }
  TranslateJob job;
  if (!job.loadConfig(optionMap()["-cfg"])) return -1;
  job.run();
  return 0;
}
