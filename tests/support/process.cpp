// What child processes share on every system.
#include "support/process.h"

#include "support/file_util.h"

namespace testing_support {

std::string asWritten(const std::string& text) {
#ifdef _WIN32
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    result += text[i];
  }
  return result;
#else
  return text;
#endif
}

std::vector<std::string> withVariable(std::vector<std::string> environment,
                                      const std::string& entry) {
  const std::string name = entry.substr(0, entry.find('=') + 1);
  for (std::string& existing : environment) {
    if (existing.compare(0, name.size(), name) == 0) {
      existing = entry;
      return environment;
    }
  }
  environment.push_back(entry);
  return environment;
}

ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& workDir,
                         const std::vector<std::string>& env) {
  std::string dir = makeTempDir();
  ProcessOptions options;
  options.workDir = workDir;
  options.environment.insert(options.environment.end(), env.begin(), env.end());
  options.stdoutPath = dir + "/stdout";
  options.stderrPath = dir + "/stderr";
  ProcessResult result;
  {
    ChildProcess child(argv, options);
    result.id = child.id();
    result.exitStatus = child.wait();
  }
  result.out = asWritten(readFile(options.stdoutPath));
  result.err = asWritten(readFile(options.stderrPath));
  removeTree(dir);
  return result;
}

}  // namespace testing_support
