// Logging for the whole program. Every line carries the main source file's name in
// glog's prefix, whichever file logs it, so the log reads the same wherever code lives.
#pragma once

#include <glog/logging.h>

#define MARLUNE_LOG_FILE "marluneTranslate.cpp"

// Logs at INFO or ERROR with the current line: MLOG(INFO) << "text";
#define MLOG(severity) MLOG_AT(severity, __LINE__)

// Logs with a fixed line number, for lines whose number callers rely on.
#define MLOG_AT(severity, line) \
  google::LogMessage(MARLUNE_LOG_FILE, line, google::GLOG_##severity).stream()
