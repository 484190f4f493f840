// Opening files on POSIX systems: reading a whole text file, writing one, and the rules of shared
// directories: those every user may write to that are sticky, as /tmp is. There another user may
// put a link, a file or a pipe at any name not yet taken; the client follows and writes only what
// belongs to its own user or to the directory's owner, and keeps its own files in a directory of
// its own.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "platform/interrupt.h"
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

// False, with the reason, when a folder on the way to `path` is a link in a shared directory
// that belongs neither to this process's user nor to the directory's owner: such a link could
// take what is written there into another user's folder.
bool foldersAllowed(const std::string& path, std::string& reason) {
  const std::string folder = folderOf(path);
  std::string walked = folder[0] == '/' ? "/" : ".";
  for (size_t start = 0; start < folder.size();) {
    size_t end = folder.find('/', start);
    if (end == std::string::npos) end = folder.size();
    const std::string name = folder.substr(start, end - start);
    start = end + 1;
    if (name.empty() || name == ".") continue;
    const std::string next = (walked == "/" ? "" : walked) + "/" + name;
    struct stat entry;
    if (lstat(next.c_str(), &entry) == 0 && S_ISLNK(entry.st_mode) &&
        !ownerAllowed(next, entry, reason)) {
      reason += " (" + next + ")";
      return false;
    }
    walked = next;
  }
  return true;
}

// What a file that is neither a regular file nor a pipe is, for a reason; nullptr for those two.
const char* unreadableKind(const struct stat& info) {
  if (S_ISDIR(info.st_mode)) return "a directory";
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return "a device, not a file";
  if (S_ISSOCK(info.st_mode)) return "a socket, not a file";
  return nullptr;
}

struct FdCloser {
  void operator()(const int* fd) const { close(*fd); }
};

// Reads what `fd` gives until its end, waiting for a pipe's writer as long as it writes;
// false with the reason when reading fails, the process is asked to end, or more than
// `maxBytes` arrive.
bool readAll(int fd, bool pipe, std::string& text, std::string& reason, size_t maxBytes) {
  char block[65536];
  for (;;) {
    const ssize_t got = read(fd, block, sizeof(block));
    if (got > 0) {
      if (static_cast<size_t>(got) > maxBytes - text.size()) {
        reason = "larger than " + std::to_string(maxBytes) + " bytes";
        return false;
      }
      text.append(block, static_cast<size_t>(got));
    } else if (got == 0) {
      return true;
    } else if (errno == EAGAIN && pipe) {
      if (!waitToRead(fd)) return (reason = "asked to end while waiting for the pipe"), false;
    } else if (errno != EINTR) {
      reason = std::strerror(errno);
      return false;
    }
  }
}

// Closes `fd` and gives nullptr, with the system's reason for the last call in `reason`.
std::FILE* failOpen(int fd, std::string& reason) {
  reason = std::strerror(errno);
  close(fd);
  return nullptr;
}

}  // namespace

bool readTextFile(const std::string& path, std::string& text, std::string& reason,
                  size_t maxBytes) {
  text.clear();
  // Not blocking: a pipe without a writer opens at once, and its first read finds it empty.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return (reason = std::strerror(errno)), false;
  std::unique_ptr<int, FdCloser> closer(&fd);
  struct stat info;
  if (fstat(fd, &info) != 0) return (reason = std::strerror(errno)), false;
  if (const char* kind = unreadableKind(info)) return (reason = kind), false;
  const bool pipe = S_ISFIFO(info.st_mode);
  if (!pipe && static_cast<uint64_t>(info.st_size) > maxBytes) {
    reason = "larger than " + std::to_string(maxBytes) + " bytes";
    return false;
  }
  if (!readAll(fd, pipe, text, reason, maxBytes)) return false;
  if (pipe && text.empty()) return (reason = "a pipe without a writer"), false;
  text.resize(strnlen(text.c_str(), text.size()));
  return true;
}

bool isReadableFile(const std::string& path, std::string& reason) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return (reason = std::strerror(errno)), false;
  if (const char* kind = unreadableKind(info)) return (reason = kind), false;
  if (!S_ISREG(info.st_mode)) return (reason = "a pipe, not a file"), false;
  if (access(path.c_str(), R_OK) != 0) return (reason = std::strerror(errno)), false;
  return true;
}

bool isFileLocation(const std::string& localPath, std::string& reason) {
  const std::string path = fileSystemPath(localPath);
  if (path.empty()) return (reason = "no file name"), false;
  struct stat info;
  if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    return (reason = "is a directory"), false;
  }
  const std::string folder = folderOf(path);
  if (stat(folder.c_str(), &info) != 0) {
    return (reason = "its folder " + folder + " cannot be used: " + std::strerror(errno)), false;
  }
  if (!S_ISDIR(info.st_mode)) return (reason = "its folder " + folder + " is no directory"), false;
  return true;
}

bool sharedFolderAllows(const std::string& localPath, std::string& reason) {
  const std::string path = fileSystemPath(localPath);
  if (path.empty()) return true;
  if (!foldersAllowed(path, reason)) return false;
  struct stat entry;
  return lstat(path.c_str(), &entry) != 0 || ownerAllowed(path, entry, reason);
}

std::FILE* openForWriting(const std::string& localPath, bool mustBeNew, std::string& reason) {
  const std::string path = fileSystemPath(localPath);
  if (path.empty()) {
    reason = localPath.empty() ? "no file name" : "a name not valid in code page 936";
    return nullptr;
  }
  if (!foldersAllowed(path, reason)) return nullptr;
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
