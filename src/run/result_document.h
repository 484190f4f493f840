// The result document, {"code":..,"message":..,"data":{"fileitemid":..}}, compact and without
// a trailing newline, written by RapidJSON's Writer. Built in memory, or written straight into
// a file so a message of tens of megabytes is neither copied nor held twice.
#pragma once

#include <cstdio>
#include <string>

// The document; `message` and `fileId` are cut at their first NUL.
std::string buildResultDocument(bool succeeded, const std::string& message,
                                const std::string& fileId);

// Writes the same bytes to `file` in one pass. False when a write failed.
bool writeResultDocument(std::FILE* file, bool succeeded, const std::string& message,
                         const std::string& fileId);

// Replaces the file at `localPath` with the document, streamed into it as it is escaped
// (platform::replaceFileWith). False, with the system's reason in `reason`, when it was not
// written in full.
bool writeResultFile(const std::string& localPath, bool succeeded, const std::string& message,
                     const std::string& fileId, std::string& reason);
