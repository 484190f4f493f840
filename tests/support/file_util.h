// File and process helpers for the tests.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// A fresh empty directory under the system's temporary directory.
std::string makeTempDir();

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
bool fileExists(const std::string& path);

// Names of the entries of `dir` (without "." and "..").
std::vector<std::string> listDir(const std::string& dir);

struct ProcessResult {
  int exitStatus = -1;  // as a shell sees it (0..255), or -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Runs `argv` to completion with an empty environment but for PATH, TZ and the "NAME=value"
// entries of `env`, in `workDir`, capturing standard output and standard error.
ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& workDir = "",
                         const std::vector<std::string>& env = {});

}  // namespace testing_support
