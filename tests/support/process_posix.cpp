// Child processes on POSIX systems: fork and execve, with only async-signal-safe calls
// between them (the tests run server threads).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "support/process.h"

namespace testing_support {

struct ChildProcess::Impl {
  pid_t pid = -1;  // -1 once waited for
  pid_t id = -1;
  int output = -1;  // read end of the standard output pipe
  std::string pending;
  int exitStatus = -1;
  int killedBy = 0;
};

namespace {

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> result;
  for (std::string& text : texts) result.push_back(&text[0]);
  result.push_back(nullptr);
  return result;
}

}  // namespace

std::vector<std::string> defaultEnvironment() {
  std::vector<std::string> environment = {"PATH=/usr/bin:/bin"};
  if (const char* tz = std::getenv("TZ")) environment.push_back(std::string("TZ=") + tz);
  return environment;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ProcessOptions& options)
    : impl_(new Impl) {
  std::vector<std::string> args = argv;
  std::vector<std::string> environment = options.environment;
  std::vector<char*> argPointers = pointers(args);
  std::vector<char*> envPointers = pointers(environment);
  const char* outPath = options.stdoutPath.empty() ? nullptr : options.stdoutPath.c_str();
  const char* errPath = options.stderrPath.empty() ? "/dev/null" : options.stderrPath.c_str();
  const char* dir = options.workDir.empty() ? nullptr : options.workDir.c_str();
  int pipeEnds[2] = {-1, -1};
  if (outPath == nullptr && pipe2(pipeEnds, O_CLOEXEC) != 0) return;

  impl_->pid = fork();
  if (impl_->pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = outPath != nullptr ? open(outPath, O_WRONLY | O_CREAT | O_TRUNC, 0644) : pipeEnds[1];
    int err = open(errPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        (dir != nullptr && chdir(dir) != 0)) {
      _exit(127);
    }
    signal(SIGPIPE, SIG_DFL);
    execve(argPointers[0], argPointers.data(), envPointers.data());
    _exit(127);
  }
  if (pipeEnds[1] >= 0) close(pipeEnds[1]);
  impl_->output = pipeEnds[0];
  impl_->id = impl_->pid;
}

ChildProcess::~ChildProcess() {
  if (impl_->pid > 0) {
    kill(impl_->pid, SIGKILL);
    wait();
  }
  closeOutput();
  delete impl_;
}

bool ChildProcess::started() const { return impl_->id > 0; }

long ChildProcess::id() const { return impl_->id; }

std::string ChildProcess::readLine(int timeoutMs) {
  std::string line = readUntil('\n', timeoutMs);
  if (!line.empty()) line.pop_back();
  return line;
}

std::string ChildProcess::readUntil(char end, int timeoutMs) {
  std::string& pending = impl_->pending;
  while (impl_->output >= 0 && pending.find(end) == std::string::npos) {
    pollfd ready{impl_->output, POLLIN, 0};
    if (poll(&ready, 1, timeoutMs) <= 0) return std::string();
    char buffer[256];
    ssize_t got = read(impl_->output, buffer, sizeof(buffer));
    if (got <= 0) return std::string();
    pending.append(buffer, static_cast<size_t>(got));
  }
  size_t at = pending.find(end);
  if (at == std::string::npos) return std::string();
  std::string text = pending.substr(0, at + 1);
  pending.erase(0, at + 1);
  return text;
}

void ChildProcess::closeOutput() {
  if (impl_->output >= 0) close(impl_->output);
  impl_->output = -1;
}

void ChildProcess::terminate() {
  if (impl_->pid > 0) kill(impl_->pid, SIGTERM);
}

int ChildProcess::wait() {
  if (impl_->pid <= 0) return impl_->exitStatus;
  int status = 0;
  pid_t waited;
  while ((waited = waitpid(impl_->pid, &status, 0)) < 0 && errno == EINTR) {
  }
  impl_->pid = -1;
  impl_->exitStatus = waited > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  impl_->killedBy = waited > 0 && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return impl_->exitStatus;
}

int ChildProcess::killedBy() const { return impl_->killedBy; }

}  // namespace testing_support
