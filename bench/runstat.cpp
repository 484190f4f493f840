// runstat: runs commands for bench/run and reports what they cost, from the kernel's own
// accounting of each child (wait4), in microseconds.
//
//   runstat [-p N] [-o FILE] -- COMMAND [ARG...] [+++ COMMAND [ARG...]]...
//
// Runs the commands one after another, stopping at the first that fails; with -p N, starts
// N copies of the first command at once instead, "{}" in its arguments and in FILE standing
// for the copy's number (0 to N-1). Standard input is /dev/null; standard output goes to
// FILE (default /dev/null; the commands after the first append to it), standard error to
// /dev/null. Prints one line:
//   <wall µs> <user+sys CPU µs, summed> <largest peak RSS KiB> <commands failed>
// where a command failed when it exited non-zero or was killed. Exit status 0 unless a
// command could not be started (2) or the arguments are wrong (2).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

int64_t nowMicros() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

std::string substitute(std::string text, int index) {
  const std::string number = std::to_string(index);
  for (size_t at = text.find("{}"); at != std::string::npos; at = text.find("{}", at)) {
    text.replace(at, 2, number);
    at += number.size();
  }
  return text;
}

struct Totals {
  int64_t cpuMicros = 0;
  long peakKib = 0;
  int failed = 0;
};

// Starts `args` with its output in `output`; the child's pid, or -1.
pid_t start(const std::vector<std::string>& args, const std::string& output, bool append) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(),
                                   O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC), 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    std::fprintf(stderr, "runstat: cannot start %s: %s\n", argv[0], std::strerror(error));
    return -1;
  }
  return pid;
}

void collect(pid_t pid, Totals& totals) {
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      ++totals.failed;
      return;
    }
  }
  totals.cpuMicros += (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL +
                      usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
  if (usage.ru_maxrss > totals.peakKib) totals.peakKib = usage.ru_maxrss;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++totals.failed;
}

int usage() {
  std::fputs("usage: runstat [-p N] [-o FILE] -- COMMAND [ARG...] [+++ COMMAND [ARG...]]...\n",
             stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int copies = 0;
  std::string output = "/dev/null";
  int i = 1;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; i += 2) {
    if (i + 1 >= argc) return usage();
    if (std::strcmp(argv[i], "-p") == 0) {
      copies = std::atoi(argv[i + 1]);
    } else if (std::strcmp(argv[i], "-o") == 0) {
      output = argv[i + 1];
    } else {
      return usage();
    }
  }
  std::vector<std::vector<std::string>> commands(1);
  for (++i; i < argc; ++i) {
    if (std::strcmp(argv[i], "+++") == 0) {
      commands.emplace_back();
    } else {
      commands.back().push_back(argv[i]);
    }
  }
  for (const auto& command : commands) {
    if (command.empty()) return usage();
  }

  Totals totals;
  const int64_t begin = nowMicros();
  if (copies > 0) {
    std::vector<pid_t> pids;
    for (int copy = 0; copy < copies; ++copy) {
      std::vector<std::string> args;
      for (const std::string& arg : commands[0]) args.push_back(substitute(arg, copy));
      pid_t pid = start(args, substitute(output, copy), false);
      if (pid < 0) return 2;
      pids.push_back(pid);
    }
    for (pid_t pid : pids) collect(pid, totals);
  } else {
    for (const auto& command : commands) {
      pid_t pid = start(command, output, &command != &commands.front());
      if (pid < 0) return 2;
      collect(pid, totals);
      if (totals.failed != 0) break;
    }
  }
  const int64_t wall = nowMicros() - begin;
  std::printf("%lld %lld %ld %d\n", static_cast<long long>(wall),
              static_cast<long long>(totals.cpuMicros), totals.peakKib, totals.failed);
  return 0;
}
