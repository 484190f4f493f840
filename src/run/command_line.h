// The command line and the log set-up.
#pragma once

#include <map>
#include <string>

// Option name to value, byte-wise ordered. Only "-cfg" is ever inserted.
using OptionMap = std::map<std::string, std::string>;

// The process-wide options.
OptionMap& optionMap();

// When the only argument is "--help"/"-h" or "--version"/"-v", prints the usage or the
// version on standard output and returns true; otherwise prints nothing and returns false.
bool printRequestedInfo(int argc, char** argv);

// Echoes each argument to standard output, takes "-cfg" and its value and points the log at
// the log directory, made where missing: for a program installed in
// <prefix>/lib/marlune-translate the user's own marlune-translate/logs in their state folder
// (platform::userStateFolder; without one, standard error only, as initLogging says),
// otherwise "logs" beside the program. True when "-cfg" has a non-empty value.
bool parseCommandLine(int argc, char** argv);

// Points the log files into `logDir`, or into the user's own directory in it where every user
// may write to it (platform::ownFolderIn), makes the run's log file and prints " log dir is
// <base>". When the directory or the file cannot be made or written, says so in one line on
// standard error and logs to standard error only; so too when the file's header does not
// reach it whole, as on a full file system. Either way no per-severity copies (WARNING,
// ERROR, FATAL files) are written.
void initLogging(const std::string& logDir);

// The usage: synopsis, configuration keys and where the log files of `logDir` go.
std::string usageText(const std::string& logDir);

// "marluneTranslate <version>", the checkout it was built from in brackets when known.
std::string versionText();
