// The command line and the log set-up.
#include "run/command_line.h"

#include <iostream>

#include "platform/platform.h"
#include "run/log.h"

namespace {

const char kConfigOption[] = "-cfg";

// Stores `argument` as the value of the first option still waiting for one.
void takeArgument(OptionMap& options, const std::string& argument) {
  if (argument == kConfigOption) {
    options[kConfigOption].clear();
    return;
  }
  for (auto& option : options) {
    if (option.second.empty()) {
      option.second = argument;
      return;
    }
  }
}

std::string directoryOf(const std::string& path) {
  size_t separator = path.rfind(platform::kPathSeparator);
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

// The "logs" directory beside the running program (symbolic links resolved).
std::string logDirectory(int argc, char** argv) {
  return directoryOf(platform::programPath(argc > 0 ? argv[0] : "")) + "logs";
}

}  // namespace

OptionMap& optionMap() {
  static OptionMap options;
  return options;
}

bool parseCommandLine(int argc, char** argv) {
  OptionMap& options = optionMap();
  for (int i = 1; i < argc; ++i) {
    std::cout << argv[i] << std::endl;
    takeArgument(options, argv[i]);
  }
  std::string logDir = logDirectory(argc, argv);
  if (!platform::pathExists(logDir)) platform::makeDirectory(logDir);
  initLogging(logDir);
  return !options[kConfigOption].empty();
}

void initLogging(const std::string& logDir) {
  // Every line of these severities is in the INFO file already.
  google::SetLogDestination(google::GLOG_WARNING, "");
  google::SetLogDestination(google::GLOG_ERROR, "");
  google::SetLogDestination(google::GLOG_FATAL, "");
  if (!platform::isWritableDirectory(logDir)) {
    std::cerr << "marluneTranslate: cannot write log files in " << logDir
              << "; logging to standard error only" << std::endl;
    google::LogToStderr();
    return;
  }
  std::string base = logDir + platform::kPathSeparator + "marluneTranslate.log.";
  FLAGS_max_log_size = 10;
  FLAGS_logtostderr = false;
  FLAGS_alsologtostderr = true;
  google::SetLogDestination(google::GLOG_INFO, base.c_str());
  google::SetStderrLogging(google::GLOG_INFO);
  FLAGS_logbufsecs = 0;
  std::cout << " log dir is " << base << std::endl;
}
