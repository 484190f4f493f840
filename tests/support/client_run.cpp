// Runs the built client as a calling script would.
#include "support/client_run.h"

#include <algorithm>

namespace testing_support {

namespace {

std::string logDirOf(const std::string& binary) {
  return binary.substr(0, binary.rfind('/') + 1) + "logs";
}

// Paths of the log files beside the binary, the only place the client logs to.
std::vector<std::string> logFiles(const std::string& binary) {
  std::vector<std::string> files;
  std::string dir = logDirOf(binary);
  for (const std::string& name : listDir(dir)) {
    if (name.find(".log.") != std::string::npos) files.push_back(dir + "/" + name);
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

ClientRunner::ClientRunner(std::string binary) : binary_(std::move(binary)), dir_(makeTempDir()) {
  configPath_ = dir_ + "/job.json";
}

ProcessResult ClientRunner::run(const std::string& config) {
  writeFile(configPath_, config);
  logsBefore_ = logFiles(binary_);
  return runProcess({binary_, "-cfg", configPath_});
}

std::string ClientRunner::echo() const {
  return "-cfg\n" + configPath_ + "\n log dir is " + logDirOf(binary_) + "/marluneTranslate.log.\n";
}

std::string ClientRunner::logsOfLastRun() const {
  std::string text;
  for (const std::string& path : logFiles(binary_)) {
    if (!std::binary_search(logsBefore_.begin(), logsBefore_.end(), path)) text += readFile(path);
  }
  return text;
}

}  // namespace testing_support
