// Opening files for writing on POSIX systems, and the rules of shared directories: those every
// user may write to that are sticky, as /tmp is. There another user may put a link, a file or
// a pipe at any name not yet taken; the client follows and writes only what belongs to its own
// user or to the directory's owner, and keeps its own files in a directory of its own.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/native_path.h"
#include "platform/platform.h"

namespace platform {

namespace {

bool isSharedSticky(const struct stat& info) {
  return S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0 && (info.st_mode & S_IWOTH) != 0;
}

// The directory `path` names an entry of.
std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// False, with the reason, when `path` lies in a shared directory and `entry`, what is there,
// belongs neither to this process's user nor to the directory's owner.
bool ownerAllowed(const std::string& path, const struct stat& entry, std::string& reason) {
  struct stat folder;
  if (stat(folderOf(path).c_str(), &folder) != 0 || !isSharedSticky(folder) ||
      entry.st_uid == geteuid() || entry.st_uid == folder.st_uid) {
    return true;
  }
  reason = S_ISLNK(entry.st_mode) ? "a link of another user in a shared directory"
                                  : "a file of another user in a shared directory";
  return false;
}

// Closes `fd` and gives nullptr, with the system's reason for the last call in `reason`.
std::FILE* failOpen(int fd, std::string& reason) {
  reason = std::strerror(errno);
  close(fd);
  return nullptr;
}

}  // namespace

bool sharedFolderAllows(const std::string& localPath, std::string& reason) {
  const std::string path = fileSystemPath(localPath);
  struct stat entry;
  return path.empty() || lstat(path.c_str(), &entry) != 0 || ownerAllowed(path, entry, reason);
}

std::FILE* openForWriting(const std::string& localPath, bool mustBeNew, std::string& reason) {
  const std::string path = fileSystemPath(localPath);
  if (path.empty()) {
    reason = localPath.empty() ? "no file name" : "a name not valid in code page 936";
    return nullptr;
  }
  struct stat entry;
  const bool link = lstat(path.c_str(), &entry) == 0 && S_ISLNK(entry.st_mode);
  if (link && !ownerAllowed(path, entry, reason)) return nullptr;
  // Anything but the link checked above is checked once open: it may have come since.
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | (mustBeNew ? O_EXCL : 0) |
                    (link ? 0 : O_NOFOLLOW);
  const int fd = open(path.c_str(), flags, 0666);
  if (fd < 0) {
    reason = std::strerror(errno);
    return nullptr;
  }
  struct stat opened;
  if (fstat(fd, &opened) != 0) return failOpen(fd, reason);
  if (!link && !ownerAllowed(path, opened, reason)) {
    close(fd);
    return nullptr;
  }
  if (S_ISREG(opened.st_mode) && !mustBeNew && ftruncate(fd, 0) != 0) return failOpen(fd, reason);
  // Once a pipe has a reader, writes wait for it as they always did.
  const int status = fcntl(fd, F_GETFL);
  if (status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) return failOpen(fd, reason);
  std::FILE* file = fdopen(fd, "w");
  if (file == nullptr) return failOpen(fd, reason);
  std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

bool emptyOpenFile(std::FILE* file) {
  struct stat info;
  const int fd = fileno(file);
  if (fstat(fd, &info) != 0) return false;
  return !S_ISREG(info.st_mode) || ftruncate(fd, 0) == 0;
}

std::string ownFolderIn(const std::string& dir) {
  struct stat info;
  if (stat(dir.c_str(), &info) != 0 || !isSharedSticky(info)) return dir;
  const uid_t user = geteuid();
  const std::string own = dir + "/" + std::to_string(user);
  mkdir(own.c_str(), 0700);
  struct stat made;
  if (lstat(own.c_str(), &made) != 0 || !S_ISDIR(made.st_mode) || made.st_uid != user) {
    return std::string();
  }
  return own;
}

}  // namespace platform
