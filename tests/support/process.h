// Child processes for the end-to-end tests: the built client and emulator, started as a
// calling script would start them, with a bare environment. One implementation file per
// system (process_posix.cpp, process_windows.cpp).
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// PATH for the system's tools and, when this process has one, its TZ.
std::vector<std::string> defaultEnvironment();

struct ProcessOptions {
  std::string workDir;     // empty: this process's directory
  std::string stdoutPath;  // file that receives standard output; empty: a pipe (readLine)
  std::string stderrPath;  // file that receives standard error; empty: discarded
  std::vector<std::string> environment = defaultEnvironment();  // "NAME=value" entries
};

class ChildProcess {
 public:
  // Starts `argv` (argv[0] is the program's path) with standard input empty.
  ChildProcess(const std::vector<std::string>& argv, const ProcessOptions& options);
  // Kills the child if it still runs and waits for it.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const;
  // The system's process id (glog names log files after it).
  long id() const;

  // One line of standard output without its line end, when it arrives within `timeoutMs`
  // (standard output must be a pipe); "" otherwise.
  std::string readLine(int timeoutMs);
  // Closes this end of the standard output pipe: the child's later writes fail.
  void closeOutput();

  // Asks the child to stop, as SIGTERM does.
  void terminate();
  // Waits for the end: the exit status as a shell sees it (0..255), -1 when killed.
  int wait();

 private:
  struct Impl;
  Impl* impl_;
};

struct ProcessResult {
  int exitStatus = -1;  // as a shell sees it (0..255), or -1 when it did not exit normally
  std::string out;
  std::string err;
  long id = 0;  // the process id it ran under
};

// Runs `argv` to completion in `workDir` with the default environment and the "NAME=value"
// entries of `env`, capturing standard output and standard error.
ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& workDir = "",
                         const std::vector<std::string>& env = {});

}  // namespace testing_support
