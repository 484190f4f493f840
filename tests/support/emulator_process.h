// The built marluneEmulator as a real process, for end-to-end tests.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/file_util.h"

namespace testing_support {

// A running marluneEmulator with a free port and its log in its own directory; stopped
// with SIGTERM when the object ends.
class EmulatorProcess {
 public:
  EmulatorProcess(const std::string& binary, std::vector<std::string> options)
      : dir_(makeTempDir()) {
    std::vector<std::string> args = {binary, "--port", "0", "--log", logPath()};
    args.insert(args.end(), options.begin(), options.end());
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      int err = open((dir_ + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(err, STDERR_FILENO);
      close(out[0]);
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(&arg[0]);
      argv.push_back(nullptr);
      char path[] = "PATH=/usr/bin:/bin";
      char tz[] = "TZ=UTC";
      char* env[] = {path, tz, nullptr};
      execve(argv[0], argv.data(), env);
      _exit(127);
    }
    close(out[1]);
    port_ = readPort(out[0]);
    close(out[0]);
  }

  ~EmulatorProcess() { stop(); }

  // SIGTERM, then the exit status as a shell sees it (-1 when it did not exit normally).
  int stop() {
    if (pid_ <= 0) return exitStatus_;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return exitStatus_;
  }

  int port() const { return port_; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::string logPath() const { return dir_ + "/emulator.log"; }
  std::string log() const { return readFile(logPath()); }
  size_t logCount(const std::string& text) const {
    std::string all = log();
    size_t count = 0;
    for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++count;
    return count;
  }

 private:
  // The port from the "listening on 127.0.0.1:PORT" line, waiting up to ten seconds.
  static int readPort(int fd) {
    std::string line;
    while (line.find('\n') == std::string::npos) {
      pollfd ready{fd, POLLIN, 0};
      if (poll(&ready, 1, 10000) <= 0) return 0;
      char buffer[256];
      ssize_t n = read(fd, buffer, sizeof(buffer));
      if (n <= 0) return 0;
      line.append(buffer, static_cast<size_t>(n));
    }
    const std::string prefix = "listening on 127.0.0.1:";
    if (line.compare(0, prefix.size(), prefix) != 0) return 0;
    return std::atoi(line.c_str() + prefix.size());
  }

  std::string dir_;
  pid_t pid_ = -1;
  int port_ = 0;
  int exitStatus_ = -1;
};

}  // namespace testing_support
