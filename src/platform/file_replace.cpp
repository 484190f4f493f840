// Replacing a file whole or not at all, and clearing an earlier one, through the platform
// interface.
#include "platform/file_replace.h"

#include <cerrno>
#include <cstring>

#include "platform/interrupt.h"
#include "platform/platform.h"

namespace platform {

namespace {

// The system's reason for the write that failed last.
std::string writeError() { return errno != 0 ? std::strerror(errno) : "the write failed"; }

// Writes with `write` to `file` and closes it. When any of it failed, a regular file is
// emptied, so that no part of the content stays, and `reason` gets the reason.
bool writeWhole(std::FILE* file, const FileWriter& write, std::string& reason) {
  errno = 0;
  bool written = write(file) && std::fflush(file) == 0;
  if (!written) {
    reason = writeError();
    emptyOpenFile(file);
  }
  if (std::fclose(file) != 0 && written) {
    reason = writeError();
    written = false;
  }
  return written;
}

// Writes the content into the file at `localPath` itself.
bool writeInPlace(const std::string& localPath, const FileWriter& write, std::string& reason) {
  std::FILE* file = openForWriting(localPath, false, reason);
  if (file == nullptr) return false;
  CleanUpOnTermination emptyOnEnd(file);
  return writeWhole(file, write, reason);
}

}  // namespace

bool replaceFileWith(const std::string& localPath, const FileWriter& write, std::string& reason) {
  // Devices, pipes and links are written through, as they are not ours to replace.
  const PathKind kind = pathKind(localPath);
  if (kind == PathKind::kOther || kind == PathKind::kLinkedFile) {
    return writeInPlace(localPath, write, reason);
  }
  const std::string temporary = localPath + "." + makeUuid() + ".tmp";
  {
    CleanUpOnTermination removeOnEnd(temporary);
    std::FILE* file = openForWriting(temporary, true, reason);
    if (file != nullptr) {
      if (!writeWhole(file, write, reason)) {
        removeFile(temporary);
        return false;  // the old file stays as it was
      }
      if (replaceFile(temporary, localPath)) return true;
      removeFile(temporary);
    }
  }
  // Where no file can be made beside it, or moved over it (a sticky directory holding
  // another user's file), the content is written in place, as it always could be.
  return writeInPlace(localPath, write, reason);
}

bool writeTextFile(std::string localPath, std::string text, std::string& reason) {
  return replaceFileWith(
      localPath,
      [&text](std::FILE* file) {
        return std::fwrite(text.data(), 1, text.size(), file) == text.size();
      },
      reason);
}

bool clearFile(const std::string& localPath, std::string& reason) {
  const PathKind kind = pathKind(localPath);
  if (kind == PathKind::kNothing) return true;
  if (kind == PathKind::kOther) return sharedFolderAllows(localPath, reason);
  if (kind == PathKind::kRegularFile && removeFile(localPath)) return true;
  std::FILE* file = openForWriting(localPath, false, reason);
  return file != nullptr && std::fclose(file) == 0;
}

}  // namespace platform
