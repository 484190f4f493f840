// Runs the built client as a calling script would.
#include "support/client_run.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>

namespace testing_support {

namespace {

std::string logDirOf(const std::string& binary) {
  return binary.substr(0, binary.rfind('/') + 1) + "logs";
}

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Names of the log files beside the binary, the only place the client logs to, sorted.
std::vector<std::string> logFiles(const std::string& binary) {
  std::vector<std::string> names;
  for (const std::string& name : listDir(logDirOf(binary))) {
    if (name.find(".log.") != std::string::npos) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

ClientRunner::ClientRunner(std::string binary) : binary_(std::move(binary)), dir_(makeTempDir()) {
  configPath_ = dir_ + "/job.json";
}

ProcessResult ClientRunner::run(const std::string& config) {
  writeFile(configPath_, config);
  logsBefore_ = logFiles(binary_);
  ProcessResult result = runProcess({binary_, "-cfg", configPath_});
  lastId_ = result.id;
  return result;
}

std::string ClientRunner::echo() const {
  return "-cfg\n" + configPath_ + "\n log dir is " + clientLogBase(binary_) + "\n";
}

// The client takes its directory from the path the system gives its program file.
std::string clientLogDir(const std::string& binary) {
#ifdef _WIN32
  char full[MAX_PATH];
  DWORD length = GetFullPathNameA(binary.c_str(), sizeof(full), full, nullptr);
  std::string path(full, length);
  return path.substr(0, path.rfind('\\') + 1) + "logs";
#else
  return logDirOf(binary);
#endif
}

std::string clientLogBase(const std::string& binary) {
#ifdef _WIN32
  return clientLogDir(binary) + "\\marluneTranslate.log.";
#else
  return clientLogDir(binary) + "/marluneTranslate.log.";
#endif
}

// glog names every log file after its process ("....<pid>"). Tests run side by side, so
// a file of this run is one that is new and carries its pid (pids wrap around).
std::string ClientRunner::logsOfLastRun() const {
  const std::string suffix = "." + std::to_string(lastId_);
  std::string text;
  for (const std::string& name : logFiles(binary_)) {
    if (endsWith(name, suffix) &&
        !std::binary_search(logsBefore_.begin(), logsBefore_.end(), name)) {
      text += asWritten(readFile(logDirOf(binary_) + "/" + name));
    }
  }
  return text;
}

}  // namespace testing_support
