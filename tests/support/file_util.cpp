// File and process helpers for the tests.
#include "support/file_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace testing_support {

std::string makeTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/marlune-test-XXXXXX";
  char* made = mkdtemp(&pattern[0]);
  return made != nullptr ? pattern : std::string();
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

bool fileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::vector<std::string> listDir(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (dirent* entry = readdir(d)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  return names;
}

ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& workDir,
                         const std::vector<std::string>& env) {
  ProcessResult result;
  std::string dir = makeTempDir();
  std::string outPath = dir + "/stdout";
  std::string errPath = dir + "/stderr";
  std::string command;
  if (!workDir.empty()) command += "cd '" + workDir + "' && ";
  command += "exec env -i PATH=/usr/bin:/bin";
  if (const char* tz = std::getenv("TZ")) command += std::string(" TZ='") + tz + "'";
  std::vector<std::string> words = env;
  words.insert(words.end(), argv.begin(), argv.end());
  for (const std::string& arg : words) {
    command += " '";
    for (char c : arg) command += c == '\'' ? std::string("'\\''") : std::string(1, c);
    command += "'";
  }
  command += " </dev/null >'" + outPath + "' 2>'" + errPath + "'";
  int status = std::system(command.c_str());
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  rmdir(dir.c_str());
  return result;
}

}  // namespace testing_support
