// The platform layer on POSIX systems: glibc's iconv for the code page, libuuid for UUIDs.
// Opening files for writing is in file_access_posix.cpp, the requests to end the process in
// interrupt_posix.cpp.
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/native_path.h"
#include "platform/platform.h"

namespace platform {

const char kPathSeparator[] = "/";

namespace {

// iconv's names of the local code page and of the file system's encoding.
const char kLocalCodePage[] = "CP936";
const char kUtf8[] = "UTF-8";

struct IconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

bool isAsciiText(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// Converts `in` between two iconv character sets, failing on any character that is
// malformed or has no form in the target. Returns false and clears `out` on failure.
// ASCII is the same in both and is copied: iconv would load its converter for nothing.
bool convert(const char* from, const char* to, const std::string& in, std::string& out) {
  out.clear();
  if (isAsciiText(in)) {
    out = in;
    return true;
  }
  iconv_t raw = iconv_open(to, from);
  if (raw == reinterpret_cast<iconv_t>(-1)) return false;
  std::unique_ptr<void, IconvCloser> cd(raw);

  char* inPtr = const_cast<char*>(in.data());
  size_t inLeft = in.size();
  std::string converted(in.size() + in.size() / 2 + 16, '\0');
  size_t used = 0;
  for (;;) {
    char* outPtr = &converted[used];
    size_t outLeft = converted.size() - used;
    size_t rc = iconv(raw, &inPtr, &inLeft, &outPtr, &outLeft);
    int error = errno;
    used = converted.size() - outLeft;
    if (rc != static_cast<size_t>(-1)) break;  // everything read
    if (error != E2BIG) return false;
    converted.resize(converted.size() * 2);
  }
  // Flush any shift state; the charsets used here have none, so this writes nothing.
  char* outPtr = &converted[used];
  size_t outLeft = converted.size() - used;
  if (iconv(raw, nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1)) return false;
  converted.resize(converted.size() - outLeft);
  out.swap(converted);
  return true;
}

// The value of the environment variable `name` when it is an absolute path, without the
// slashes at its end; empty otherwise.
std::string absolutePathIn(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') return std::string();
  std::string path(value);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// This user's state folder, empty without one; in `root` the folder that must exist already
// for it to be made: $HOME, or "/" for XDG_STATE_HOME.
std::string stateHome(std::string& root) {
  const std::string xdg = absolutePathIn("XDG_STATE_HOME");
  if (!xdg.empty()) {
    root = "/";
    return xdg;
  }
  root = absolutePathIn("HOME");
  return root.empty() ? std::string() : root + "/.local/state";
}

bool isOwnDirectory(const struct stat& info) {
  return S_ISDIR(info.st_mode) && info.st_uid == geteuid();
}

}  // namespace

// File names on this system are UTF-8: a name held in the local code page is converted
// back; empty when it has no UTF-8 form.
std::string fileSystemPath(const std::string& localPath) {
  std::string path;
  if (localPath.empty() || !localCodePageToUtf8(localPath, path)) return std::string();
  return path;
}

std::string programPath(const char* argv0) {
  char buffer[4096];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (length <= 0) return argv0 != nullptr ? std::string(argv0) : std::string();
  return std::string(buffer, static_cast<size_t>(length));
}

bool pathExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

void makeDirectory(const std::string& path) { mkdir(path.c_str(), 0755); }

bool isWritableDirectory(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  return faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::string userStateFolder(const std::string& relative) {
  std::string root;
  const std::string home = stateHome(root);
  return (home.empty() ? std::string("$HOME/.local/state") : home) + "/" + relative;
}

bool makeUserStateFolder(const std::string& relative) {
  std::string root;
  const std::string home = stateHome(root);
  struct stat info;
  if (home.empty() || stat(root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  const std::string folder = home + "/" + relative;
  // mkdir fails, harmlessly, where a folder exists.
  for (size_t end = folder.find('/', root.size());; end = folder.find('/', end + 1)) {
    mkdir(folder.substr(0, end).c_str(), 0700);
    if (end == std::string::npos) break;
  }
  if (stat(home.c_str(), &info) != 0 || !isOwnDirectory(info)) return false;
  size_t end = home.size();
  do {
    end = folder.find('/', end + 1);
    if (lstat(folder.substr(0, end).c_str(), &info) != 0 || !isOwnDirectory(info)) return false;
  } while (end != std::string::npos);
  return true;
}

long processId() { return static_cast<long>(getpid()); }

int64_t systemNowTicks() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * kTicksPerSecond + now.tv_nsec / 100;
}

int64_t systemMakeTime(std::tm& calendar) {
  time_t seconds = mktime(&calendar);
  return seconds == static_cast<time_t>(-1) ? -1 : static_cast<int64_t>(seconds);
}

std::string makeUuid() {
  uuid_t uuid;
  uuid_generate_random(uuid);
  char text[37];
  uuid_unparse_lower(uuid, text);
  return std::string(text, 36);
}

bool utf8ToLocalCodePage(const std::string& utf8, std::string& out) {
  return convert(kUtf8, kLocalCodePage, utf8, out);
}

bool localCodePageToUtf8(const std::string& local, std::string& out) {
  return convert(kLocalCodePage, kUtf8, local, out);
}

PathKind pathKind(const std::string& localPath) {
  struct stat info;
  std::string path = fileSystemPath(localPath);
  if (path.empty() || lstat(path.c_str(), &info) != 0) return PathKind::kNothing;
  if (!S_ISREG(info.st_mode)) return PathKind::kOther;
  return info.st_nlink == 1 ? PathKind::kRegularFile : PathKind::kLinkedFile;
}

bool replaceFile(const std::string& fromLocal, const std::string& toLocal) {
  std::string from = fileSystemPath(fromLocal);
  std::string to = fileSystemPath(toLocal);
  if (from.empty() || to.empty()) return false;
  // The file replaced keeps its permissions.
  struct stat old;
  if (stat(to.c_str(), &old) == 0) chmod(from.c_str(), old.st_mode & 07777);
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool removeFile(const std::string& localPath) {
  std::string path = fileSystemPath(localPath);
  return !path.empty() && unlink(path.c_str()) == 0;
}

MutedStandardError::MutedStandardError() : saved_(-1) {
  std::fflush(stderr);
  int nowhere = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (nowhere < 0) return;
  saved_ = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
  if (saved_ >= 0) dup2(nowhere, STDERR_FILENO);
  close(nowhere);
}

MutedStandardError::~MutedStandardError() {
  if (saved_ < 0) return;
  std::fflush(stderr);
  dup2(saved_, STDERR_FILENO);
  close(saved_);
}

void ignoreBrokenPipes() { signal(SIGPIPE, SIG_IGN); }

void ensureStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number is this one: those below it are open by now.
    const int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) close(opened);
  }
}

}  // namespace platform
