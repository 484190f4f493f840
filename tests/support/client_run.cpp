// Runs the built client as a calling script would.
#include "support/client_run.h"

#include <algorithm>
#include <cstdlib>

namespace testing_support {

namespace {

std::string logDirOf(const std::string& binary) {
  return binary.substr(0, binary.rfind('/') + 1) + "logs";
}

std::string tempDir() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr ? tmp : "/tmp";
}

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

ClientRunner::ClientRunner(std::string binary) : binary_(std::move(binary)), dir_(makeTempDir()) {
  configPath_ = dir_ + "/job.json";
}

ProcessResult ClientRunner::run(const std::string& config) {
  writeFile(configPath_, config);
  ProcessResult result = runProcess({binary_, "-cfg", configPath_});
  lastId_ = result.id;
  return result;
}

std::string ClientRunner::echo() const {
  return "-cfg\n" + configPath_ + "\n log dir is " + logDirOf(binary_) + "/marluneTranslate.log.\n";
}

// glog names every log file after the process: "....<pid>".
std::string ClientRunner::logsOfLastRun() const {
  std::vector<std::string> files;
  const std::string suffix = "." + std::to_string(lastId_);
  for (const std::string& dir : {logDirOf(binary_), tempDir()}) {
    for (const std::string& name : listDir(dir)) {
      if (name.find(".log.") != std::string::npos && endsWith(name, suffix)) {
        files.push_back(dir + "/" + name);
      }
    }
  }
  std::sort(files.begin(), files.end());
  std::string text;
  for (const std::string& path : files) text += readFile(path);
  return text;
}

}  // namespace testing_support
