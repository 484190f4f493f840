// Child processes for the end-to-end tests: the built client and emulator, started as a
// calling script would start them, with a bare environment. One implementation file per
// system (process_posix.cpp, process_windows.cpp).
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// What a child's environment starts from: on POSIX systems PATH for the system's tools and,
// when this process has one, its TZ; on Windows this process's own environment.
std::vector<std::string> defaultEnvironment();

// `text` as a program wrote it, before the text mode of Windows turned its line ends into
// CR LF (what standard output, standard error and glog's files get there); unchanged on
// other systems.
std::string asWritten(const std::string& text);

// `environment` with `entry` ("NAME=value") put in, replacing a variable of that name.
std::vector<std::string> withVariable(std::vector<std::string> environment,
                                      const std::string& entry);

struct ProcessOptions {
  std::string workDir;     // empty: this process's directory
  std::string stdoutPath;  // file that receives standard output; empty: a pipe (readLine)
  std::string stderrPath;  // file that receives standard error; empty: discarded
  // "NAME=value" entries; on Windows they change this process's environment for the child.
  std::vector<std::string> environment = defaultEnvironment();
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
  // Standard output up to and including the next `end`, when it arrives within `timeoutMs`
  // (standard output must be a pipe); "" otherwise.
  std::string readUntil(char end, int timeoutMs);
  // Closes this end of the standard output pipe: the child's later writes fail.
  void closeOutput();

  // Asks the child to stop, as SIGTERM does.
  void terminate();
  // Waits for the end: the exit status as a shell sees it (0..255), -1 when killed.
  int wait();
  // The signal that ended the child, once waited for; 0 when it exited (always on Windows).
  int killedBy() const;

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
