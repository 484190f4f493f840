// Replacing a file whole or not at all, through the platform interface.
#include "platform/file_replace.h"

#include "platform/interrupt.h"
#include "platform/platform.h"

namespace platform {

namespace {

// Writes with `write` to `file` and closes it; false when any of it failed.
bool writeWhole(std::FILE* file, const FileWriter& write) {
  if (file == nullptr) return false;
  bool written = write(file);
  written = std::fflush(file) == 0 && written;
  return std::fclose(file) == 0 && written;
}

}  // namespace

bool replaceFileWith(const std::string& localPath, const FileWriter& write) {
  // Devices, pipes and links are written through, as they are not ours to replace.
  if (pathKind(localPath) == PathKind::kOther) {
    return writeWhole(openForWriting(localPath), write);
  }
  const std::string temporary = localPath + "." + makeUuid() + ".tmp";
  CleanUpOnTermination cleanUp(temporary);
  std::FILE* file = openForWriting(temporary, true);
  if (file != nullptr) {
    if (!writeWhole(file, write)) {
      removeFile(temporary);
      return false;  // the old file stays as it was
    }
    if (replaceFile(temporary, localPath)) return true;
    removeFile(temporary);
  }
  // Where no file can be made beside it, or moved over it (a sticky directory holding
  // another user's file), the content is written in place, as it always could be.
  return writeWhole(openForWriting(localPath), write);
}

bool writeTextFile(std::string localPath, std::string text) {
  return replaceFileWith(localPath, [&text](std::FILE* file) {
    return std::fwrite(text.data(), 1, text.size(), file) == text.size();
  });
}

}  // namespace platform
