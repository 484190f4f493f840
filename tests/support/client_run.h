// Runs the built client on a configuration in a temporary directory, as a calling script
// would, and reads back what it left: result file, standard output, log files.
#pragma once

#include <string>
#include <vector>

#include "support/file_util.h"
#include "support/process.h"

namespace testing_support {

// The log directory of the client built as `binary`, as the client names it, and the log
// base it prints (" log dir is <base>").
std::string clientLogDir(const std::string& binary);
std::string clientLogBase(const std::string& binary);

// The names of the log files in the client's log directory, sorted.
std::vector<std::string> clientLogFiles(const std::string& binary);

// The paths of the log files that the run with process id `processId` wrote: those named
// after it (glog names them "....<pid>") that are not among `earlier` (pids wrap around).
std::vector<std::string> logFilesOfRun(const std::string& binary, long processId,
                                       const std::vector<std::string>& earlier);

class ClientRunner {
 public:
  explicit ClientRunner(std::string binary);
  ~ClientRunner();  // removes the temporary directory and what is in it
  ClientRunner(const ClientRunner&) = delete;
  ClientRunner& operator=(const ClientRunner&) = delete;

  // Writes `config` as the configuration file and runs the client on it.
  ProcessResult run(const std::string& config);

  const std::string& dir() const { return dir_; }
  const std::string& configPath() const { return configPath_; }
  std::string resultPath() const { return dir_ + "/result.json"; }
  std::string result() const { return readFile(resultPath()); }
  // What the client echoes before any request: the arguments and the log directory line.
  std::string echo() const;
  // Everything the last run wrote to log files.
  std::string logsOfLastRun() const;

 private:
  std::string binary_;
  std::string dir_;
  std::string configPath_;
  std::vector<std::string> logsBefore_;
  long lastId_ = 0;
};

}  // namespace testing_support
