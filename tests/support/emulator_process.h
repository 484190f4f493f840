// The built marluneEmulator as a real process, for end-to-end tests.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "support/file_util.h"
#include "support/process.h"

namespace testing_support {

// A running marluneEmulator in UTC with a free port and its log in its own directory;
// stopped as by SIGTERM when the object ends. `variables` ("NAME=value") join its environment.
class EmulatorProcess {
 public:
  EmulatorProcess(const std::string& binary, std::vector<std::string> options,
                  const std::vector<std::string>& variables = {})
      : dir_(makeTempDir()) {
    std::vector<std::string> args = {binary, "--port", "0", "--log", logPath()};
    args.insert(args.end(), options.begin(), options.end());
    ProcessOptions how;
    how.stderrPath = dir_ + "/stderr";
    how.environment = withVariable(defaultEnvironment(), "TZ=UTC");
    for (const std::string& variable : variables) {
      how.environment = withVariable(how.environment, variable);
    }
    process_ = std::make_unique<ChildProcess>(args, how);
    port_ = readPort();
  }

  ~EmulatorProcess() {
    stop();
    removeTree(dir_);
  }

  // Stops the emulator; its exit status as a shell sees it (-1 when it did not exit normally).
  int stop() {
    if (!stopped_) {
      process_->terminate();
      exitStatus_ = process_->wait();
      stopped_ = true;
    }
    return exitStatus_;
  }

  int port() const { return port_; }
  long pid() const { return process_->id(); }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::string logPath() const { return dir_ + "/emulator.log"; }
  std::string log() const { return readFile(logPath()); }
  size_t logCount(const std::string& text) const { return countOf(log(), text); }

 private:
  // The port from the "listening on ADDRESS:PORT" line, waiting up to ten seconds.
  int readPort() {
    const std::string prefix = "listening on ";
    std::string line = process_->readLine(10000);
    if (line.compare(0, prefix.size(), prefix) != 0) return 0;
    return std::atoi(line.c_str() + line.rfind(':') + 1);
  }

  std::string dir_;
  std::unique_ptr<ChildProcess> process_;
  int port_ = 0;
  bool stopped_ = false;
  int exitStatus_ = -1;
};

}  // namespace testing_support
