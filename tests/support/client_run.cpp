// Runs the built client as a calling script would.
#include "support/client_run.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>

namespace testing_support {

namespace {

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

// The client takes its directory from the path the system gives its program file.
std::string clientLogDir(const std::string& binary) {
#ifdef _WIN32
  char full[MAX_PATH];
  DWORD length = GetFullPathNameA(binary.c_str(), sizeof(full), full, nullptr);
  std::string path(full, length);
  return path.substr(0, path.rfind('\\') + 1) + "logs";
#else
  return binary.substr(0, binary.rfind('/') + 1) + "logs";
#endif
}

std::string clientLogBase(const std::string& binary) {
#ifdef _WIN32
  return clientLogDir(binary) + "\\marluneTranslate.log.";
#else
  return clientLogDir(binary) + "/marluneTranslate.log.";
#endif
}

std::vector<std::string> clientLogFiles(const std::string& binary) {
  std::vector<std::string> names;
  for (const std::string& name : listDir(clientLogDir(binary))) {
    if (name.find(".log.") != std::string::npos) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> logFilesOfRun(const std::string& binary, long processId,
                                       const std::vector<std::string>& earlier) {
  const std::string suffix = "." + std::to_string(processId);
  std::vector<std::string> paths;
  for (const std::string& name : clientLogFiles(binary)) {
    if (endsWith(name, suffix) && !std::binary_search(earlier.begin(), earlier.end(), name)) {
      paths.push_back(clientLogDir(binary) + "/" + name);
    }
  }
  return paths;
}

ClientRunner::ClientRunner(std::string binary) : binary_(std::move(binary)), dir_(makeTempDir()) {
  configPath_ = dir_ + "/job.json";
}

ClientRunner::~ClientRunner() { removeTree(dir_); }

ProcessResult ClientRunner::run(const std::string& config) {
  writeFile(configPath_, config);
  logsBefore_ = clientLogFiles(binary_);
  ProcessResult result = runProcess({binary_, "-cfg", configPath_});
  lastId_ = result.id;
  return result;
}

std::string ClientRunner::echo() const {
  return "-cfg\n" + configPath_ + "\n log dir is " + clientLogBase(binary_) + "\n";
}

std::string ClientRunner::logsOfLastRun() const {
  std::string text;
  for (const std::string& path : logFilesOfRun(binary_, lastId_, logsBefore_)) {
    text += asWritten(readFile(path));
  }
  return text;
}

}  // namespace testing_support
