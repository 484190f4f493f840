// The command line and the log set-up.
#pragma once

#include <map>
#include <string>

// Option name to value, byte-wise ordered. Only "-cfg" is ever inserted.
using OptionMap = std::map<std::string, std::string>;

// The process-wide options.
OptionMap& optionMap();

// Echoes each argument to standard output, takes "-cfg" and its value, creates the
// "logs" directory beside the program and points the log at it. True when "-cfg" has a
// non-empty value.
bool parseCommandLine(int argc, char** argv);

// Points the log files into `logDir` and prints " log dir is <base>" when it is a writable
// directory; otherwise says so in one line on standard error and logs to standard error only.
// Either way no per-severity copies (WARNING, ERROR, FATAL files) are written.
void initLogging(const std::string& logDir);
