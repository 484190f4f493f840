// The command line and the log set-up.
#include "run/command_line.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>

#include "marlune_version.h"
#include "platform/platform.h"
#include "run/config_keys.h"
#include "util/log.h"

namespace {

const char kConfigOption[] = "-cfg";
// Where the manual is: a manual page, or on Windows a text file the ZIP puts beside the program.
#ifdef _WIN32
const std::string kManual = "marluneTranslate.txt beside the program";
#else
const std::string kManual = "marluneTranslate(1)";
#endif

// Where --help wraps its lines, and how far a key's text stands in.
const size_t kUsageWidth = 80;
const size_t kKeyIndent = 19;

// The key's default or requirement, in brackets after a blank; empty when it has neither.
std::string bracketOf(const ConfigKey& key) {
  switch (key.whenAbsent) {
    case WhenAbsent::kFailsLoad:
      return " (required)";
    case WhenAbsent::kFailsWithTenant:
      return " (required with tenantid)";
    case WhenAbsent::kDefault:
      return key.fallback != nullptr ? std::string(" (") + key.fallback + ")" : std::string();
    case WhenAbsent::kRecorded:
      break;
  }
  return std::string();
}

// The key's line in --help: its name, what it is and its bracket, wrapped at blanks.
std::string keyLine(const ConfigKey& key) {
  std::string line = std::string("  ") + key.name;
  line.resize(kKeyIndent, ' ');
  line += std::string(key.help) + bracketOf(key);
  std::string wrapped;
  while (line.size() > kUsageWidth) {
    const size_t blank = line.rfind(' ', kUsageWidth);
    if (blank == std::string::npos || blank <= kKeyIndent) break;
    wrapped += line.substr(0, blank) + "\n";
    line = std::string(kKeyIndent, ' ') + line.substr(blank + 1);
  }
  return wrapped + line + "\n";
}

// Stores `argument` as the value of the first option still waiting for one.
void takeArgument(OptionMap& options, const std::string& argument) {
  if (argument == kConfigOption) {
    options[kConfigOption].clear();
    return;
  }
  for (auto& option : options) {
    if (option.second.empty()) {
      option.second = argument;
      return;
    }
  }
}

std::string directoryOf(const std::string& path) {
  size_t separator = path.rfind(platform::kPathSeparator);
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

// The directory of the running program (symbolic links resolved), separator at its end.
std::string programDirectory(int argc, char** argv) {
  return directoryOf(platform::programPath(argc > 0 ? argv[0] : ""));
}

// True for the directory the package and cmake --install put the program in,
// <prefix>/lib/marlune-translate.
bool isInstalledIn(const std::string& programDir) {
  const std::string separator = platform::kPathSeparator;
  const std::string tail = separator + "lib" + separator + "marlune-translate" + separator;
  return programDir.size() >= tail.size() &&
         programDir.compare(programDir.size() - tail.size(), tail.size(), tail) == 0;
}

// The log directory's place in the user's state folder.
std::string stateLogFolder() {
  return std::string("marlune-translate") + platform::kPathSeparator + "logs";
}

// Where the run's logs go. An installed program's users each keep theirs in their own state
// folder; any other copy (a checkout's build, the Windows ZIP) keeps them in "logs" beside
// itself.
struct LogPlace {
  std::string dir;
  bool inStateFolder = false;
};

LogPlace logPlace(int argc, char** argv) {
  const std::string programDir = programDirectory(argc, argv);
  if (isInstalledIn(programDir)) return {platform::userStateFolder(stateLogFolder()), true};
  return {programDir + "logs", false};
}

// Makes the log directory where missing; false when a state folder's cannot be had.
bool makeLogDirectory(const LogPlace& place) {
  if (place.inStateFolder) return platform::makeUserStateFolder(stateLogFolder());
  if (!platform::pathExists(place.dir)) platform::makeDirectory(place.dir);
  return true;
}

// The base of the log file glog has open, once startLogFile made one.
std::string& openLogBase() {
  static std::string base;
  return base;
}

// The name glog gives the file it makes for `base` at `time`: the local date and time and the
// process id after the base.
std::string logFileName(const std::string& base, std::time_t time) {
  char stamp[32];
  std::strftime(stamp, sizeof(stamp), "%Y%m%d-%H%M%S", std::localtime(&time));
  return base + stamp + "." + std::to_string(platform::processId());
}

// The bytes glog wrote into the file at `path`, which on Windows it opens in text mode: each
// line end it wrote is stored there as CR LF. 0 for a file it cannot have just begun, larger
// than its header can be.
size_t bytesWrittenTo(const std::string& path) {
  const size_t kLargestHeader = 65536;
  std::string text;
  std::string reason;
  if (!platform::readTextFile(path, text, reason, kLargestHeader)) return 0;
#ifdef _WIN32
  size_t lineEnds = 0;
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) {
    ++lineEnds;
  }
  return text.size() - lineEnds;
#else
  return text.size();
#endif
}

// Points the log files at `base` and has glog make the run's file now, with the current time
// and the process id in its name; false when it cannot, as when another user took that name,
// or when the file's header did not reach it whole, as on a full file system (a file left so
// is removed). glog's own complaint is held back: the caller says so in its own words.
bool startLogFile(const std::string& base) {
  // Several users may share the directory: a run's log is its user's (and group's) to read.
  FLAGS_logfile_mode = 0640;
  FLAGS_max_log_size = 10;
  FLAGS_logtostderr = false;
  FLAGS_alsologtostderr = true;
  google::SetStderrLogging(google::GLOG_INFO);
  FLAGS_logbufsecs = 0;
  if (base == openLogBase()) return true;
  google::SetLogDestination(google::GLOG_INFO, base.c_str());
  google::base::Logger* file = google::base::GetLogger(google::GLOG_INFO);
  const auto before = file->LogSize();  // glog counts on across the files it closes
  const std::time_t now = std::time(nullptr);
  {
    platform::MutedStandardError quiet;
    file->Write(true, now, "", 0);  // the header alone, flushed
  }
  const auto header = file->LogSize() - before;
  if (header == 0) return false;  // no file, so no header in it
  const std::string name = logFileName(base, now);
  if (bytesWrittenTo(name) != header) {
    google::SetLogDestination(google::GLOG_INFO, "");  // closes it
    std::remove(name.c_str());
    return false;
  }
  openLogBase() = base;
  return true;
}

// Says in one line on standard error that no log file is written, and logs there only.
void logToStandardErrorOnly(const std::string& dir) {
  std::cerr << "marluneTranslate: cannot write log files in " << dir
            << "; logging to standard error only" << std::endl;
  google::LogToStderr();
  openLogBase().clear();
}

}  // namespace

OptionMap& optionMap() {
  static OptionMap options;
  return options;
}

bool printRequestedInfo(int argc, char** argv) {
  if (argc != 2) return false;
  const char* argument = argv[1];
  if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
    std::cout << usageText(logPlace(argc, argv).dir);
  } else if (std::strcmp(argument, "--version") == 0 || std::strcmp(argument, "-v") == 0) {
    std::cout << versionText();
  } else {
    return false;
  }
  std::cout.flush();
  return true;
}

bool parseCommandLine(int argc, char** argv) {
  OptionMap& options = optionMap();
  for (int i = 1; i < argc; ++i) {
    std::cout << argv[i] << std::endl;
    takeArgument(options, argv[i]);
  }
  const LogPlace place = logPlace(argc, argv);
  if (makeLogDirectory(place)) {
    initLogging(place.dir);
  } else {
    logToStandardErrorOnly(place.dir);
  }
  return !options[kConfigOption].empty();
}

void initLogging(const std::string& logDir) {
  // Every line of these severities is in the INFO file already.
  google::SetLogDestination(google::GLOG_WARNING, "");
  google::SetLogDestination(google::GLOG_ERROR, "");
  google::SetLogDestination(google::GLOG_FATAL, "");
  // In a directory shared by every user, each user logs into a directory of their own.
  const std::string folder = platform::ownFolderIn(logDir);
  const std::string base = folder + platform::kPathSeparator + "marluneTranslate.log.";
  if (folder.empty() || !platform::isWritableDirectory(folder) || !startLogFile(base)) {
    logToStandardErrorOnly(folder.empty() ? logDir : folder);
    return;
  }
  std::cout << " log dir is " << base << std::endl;
}

std::string usageText(const std::string& logDir) {
  std::string text =
      "usage: marluneTranslate -cfg FILE\n"
      "       marluneTranslate --help | --version\n"
      "\n"
      "Runs one translate job of the Marlune service as the JSON configuration FILE says,\n"
      "writes the outcome to the result file named by \"output\" and exits with 0; exits\n"
      "with 1 when that file cannot be written, with 255 when -cfg is missing, the\n"
      "configuration does not load or an earlier result at the output path cannot be\n"
      "cleared. Asked to end (SIGTERM, SIGINT, SIGHUP; Ctrl-C and the like on Windows),\n"
      "it writes the result \"failed\" with the message \"interrupted\" and ends as the\n"
      "signal does (a shell sees 128 + N).\n"
      "\n"
      "Configuration keys (default or requirement in brackets):\n";
  for (const ConfigKey& key : configKeys()) text += keyLine(key);
  return text + "\nLog files: " + logDir + platform::kPathSeparator +
         "marluneTranslate.log.*; every line also goes to standard error.\n"
         "See " +
         kManual + " for the result file and the exit status.\n";
}

std::string versionText() {
  std::string text = std::string("marluneTranslate ") + MARLUNE_VERSION;
  if (std::strlen(MARLUNE_GIT_DESCRIBE) > 0) text += std::string(" (") + MARLUNE_GIT_DESCRIBE + ")";
  return text + "\n";
}
