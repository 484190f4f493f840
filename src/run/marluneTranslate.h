// Process entry and the run of a job.
#pragma once

#include <string>

// The whole program: logging, command line, configuration, run. Returns the exit status:
// 0 when the job ran (whatever its outcome), -1 otherwise.
int marluneMain(int argc, char** argv);

// The compact result document: {"code":..,"message":..,"data":{"fileitemid":..}}.
std::string buildResultDocument(bool succeeded, const std::string& message,
                                const std::string& fileId);

// Writes `text` to the file at `localPath` (created or truncated). False when the file
// cannot be opened or the text was not written and closed in full.
bool writeTextFile(std::string localPath, std::string text);
