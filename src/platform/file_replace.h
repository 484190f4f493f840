// Replacing a file whole or not at all: the new content goes to a temporary file beside it,
// which is then moved over it. Built on the platform interface alone, so it is the same on
// every system.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace platform {

// Puts a file's content; false when a write failed.
using FileWriter = std::function<bool(std::FILE*)>;

// Replaces the file at `localPath` with one holding what `write` puts: written to a temporary
// file beside it, then moved over it, so readers see the old file or the new one, never a
// part. A path that holds a device, pipe or link (symbolic or hard) is written through
// instead, and so is a file that cannot be replaced (its directory forbids it); a regular file
// written so is emptied when the write fails. What sharedFolderAllows refuses is not written.
// False, with the system's reason in `reason`, when the content was not written in full; no
// temporary file is left behind, even when the process is told to end.
bool replaceFileWith(const std::string& localPath, const FileWriter& write, std::string& reason);

// replaceFileWith holding `text`.
bool writeTextFile(std::string localPath, std::string text, std::string& reason);

// Clears what an earlier run left at `localPath`: a regular file is removed, or emptied where
// it cannot be removed (its directory is not writable) or has other names; a device, a pipe,
// a link and what it points to stay as they are. False, with the reason in `reason`, when a
// regular file keeps its content, or when sharedFolderAllows refuses what is there.
bool clearFile(const std::string& localPath, std::string& reason);

}  // namespace platform
