// Process entry and the run of a job.
#pragma once

#include <string>

#include "run/result_document.h"

// The whole program: logging, command line, configuration, run. Returns the exit status:
// 0 when the job ran (whatever its outcome), -1 otherwise.
int marluneMain(int argc, char** argv);

// Replaces the file at `localPath` with one holding `text`: written to a temporary file beside
// it, then moved over it, so readers see the old file or the new one, never a part. A path
// that holds a device, pipe or link (symbolic or hard) is written through instead, and so is a
// file that cannot be replaced (its directory forbids it). False when the text was not written
// in full; no temporary file is left behind, even when the process is told to end.
bool writeTextFile(std::string localPath, std::string text);

// writeTextFile for the result document, streamed into the file as it is escaped.
bool writeResultFile(const std::string& localPath, bool succeeded, const std::string& message,
                     const std::string& fileId);
