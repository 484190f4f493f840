// The platform layer on Windows: the system's own API for paths, clock, UUIDs and the code
// page. Names of files are turned into UTF-16 from code page 936 and opened through the wide
// API, so a file gets the name the caller wrote whatever the system's ANSI code page is. The
// requests to end the process are in interrupt_windows.cpp.
#include <windows.h>
// After windows.h, which they build on.
#include <fcntl.h>
#include <io.h>
#include <rpc.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "platform/native_path.h"
#include "platform/platform.h"

namespace platform {

const char kPathSeparator[] = "\\";

namespace {

const UINT kLocalCodePage = 936;

// `text` in `codePage` as UTF-16, strictly; false when it holds an invalid sequence.
bool toWide(UINT codePage, const std::string& text, std::wstring& wide) {
  wide.clear();
  if (text.empty()) return true;
  if (text.size() > static_cast<size_t>(INT_MAX)) return false;
  const int length = static_cast<int>(text.size());
  int needed = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  if (needed <= 0) return false;
  wide.resize(static_cast<size_t>(needed));
  return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), length, &wide[0],
                             needed) == needed;
}

// UTF-16 in `codePage`, strictly: false when a character has no form there.
bool fromWide(UINT codePage, const std::wstring& wide, std::string& text) {
  text.clear();
  if (wide.empty()) return true;
  const int length = static_cast<int>(wide.size());
  // UTF-8 reports unpaired surrogates through its flag; other code pages through the default
  // character they would have put in.
  const bool utf8 = codePage == CP_UTF8;
  DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultOut = utf8 ? nullptr : &usedDefault;
  int needed = WideCharToMultiByte(codePage, flags, wide.data(), length, nullptr, 0, nullptr,
                                   usedDefaultOut);
  if (needed <= 0 || usedDefault) return false;
  text.resize(static_cast<size_t>(needed));
  int written = WideCharToMultiByte(codePage, flags, wide.data(), length, &text[0], needed, nullptr,
                                    usedDefaultOut);
  if (written != needed || usedDefault) {
    text.clear();
    return false;
  }
  return true;
}

// The system's text for the error `code`, without its line end.
std::string systemMessage(DWORD code) {
  char text[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, sizeof(text), nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) --length;
  return length > 0 ? std::string(text, length) : "error " + std::to_string(code);
}

// %LOCALAPPDATA% when it is an absolute path ("C:\Users\..." or "\\server\..."), without the
// separators at its end; empty otherwise.
std::string localAppData() {
  const char* value = std::getenv("LOCALAPPDATA");
  std::string path = value != nullptr ? value : "";
  const bool drive = path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
  if (!drive && path.rfind("\\\\", 0) != 0) return std::string();
  while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  return path;
}

// A directory that is no link or junction.
bool isPlainDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

}  // namespace

std::wstring widePath(const std::string& localPath) {
  std::wstring wide;
  if (localPath.empty() || !toWide(kLocalCodePage, localPath, wide)) return std::wstring();
  return wide;
}

std::string programPath(const char* argv0) {
  char buffer[259];
  DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof(buffer));
  if (length == 0) return argv0 != nullptr ? std::string(argv0) : std::string();
  return std::string(buffer, length);
}

namespace {

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// The file at `path` opened for reading, with what it is (FILE_TYPE_DISK, _CHAR, _PIPE); empty
// with the reason when it cannot be opened.
FilePtr openForReading(const std::string& path, DWORD& type, std::string& reason) {
  errno = 0;
  FilePtr file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) {
    reason = errno != 0 ? std::strerror(errno) : "unknown error";
    return file;
  }
  type = GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file.get()))));
  return file;
}

}  // namespace

bool readTextFile(const std::string& path, std::string& text, std::string& reason,
                  size_t maxBytes) {
  text.clear();
  DWORD type = FILE_TYPE_UNKNOWN;
  FilePtr file = openForReading(path, type, reason);
  if (!file) return false;
  if (type == FILE_TYPE_CHAR) return (reason = "a device, not a file"), false;
  char block[65536];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof(block), file.get())) > 0) {
    if (got > maxBytes - text.size()) {
      reason = "larger than " + std::to_string(maxBytes) + " bytes";
      return false;
    }
    text.append(block, got);
  }
  if (std::ferror(file.get())) return (reason = std::strerror(errno)), false;
  if (type == FILE_TYPE_PIPE && text.empty()) return (reason = "a pipe without a writer"), false;
  text.resize(strnlen(text.c_str(), text.size()));
  return true;
}

bool isReadableFile(const std::string& path, std::string& reason) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return (reason = "a directory"), false;
  }
  DWORD type = FILE_TYPE_UNKNOWN;
  if (!openForReading(path, type, reason)) return false;
  if (type == FILE_TYPE_DISK) return true;
  reason = type == FILE_TYPE_PIPE ? "a pipe, not a file" : "a device, not a file";
  return false;
}

bool isFileLocation(const std::string& localPath, std::string& reason) {
  const std::wstring path = widePath(localPath);
  if (path.empty()) return (reason = "no file name"), false;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return (reason = "is a directory"), false;
  }
  // The folder as the caller wrote it, a drive's root with its separator. Looked for in the
  // wide name: a byte of a two-byte character in the local code page may be a backslash.
  const size_t separator = path.find_last_of(L"\\/");
  std::wstring wideFolder = L".";
  if (separator != std::wstring::npos) {
    const bool root = separator == 0 || (separator == 2 && path[1] == L':');
    wideFolder = path.substr(0, root ? separator + 1 : separator);
  }
  std::string folder;
  fromWide(kLocalCodePage, wideFolder, folder);
  const DWORD folderAttributes = GetFileAttributesW(wideFolder.c_str());
  if (folderAttributes == INVALID_FILE_ATTRIBUTES) {
    reason = "its folder " + folder + " cannot be used: " + systemMessage(GetLastError());
    return false;
  }
  if ((folderAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return (reason = "its folder " + folder + " is no directory"), false;
  }
  return true;
}

bool pathExists(const std::string& path) { return _access(path.c_str(), 0) == 0; }

void makeDirectory(const std::string& path) { CreateDirectoryA(path.c_str(), nullptr); }

std::string userStateFolder(const std::string& relative) {
  const std::string home = localAppData();
  return (home.empty() ? std::string("%LOCALAPPDATA%") : home) + "\\" + relative;
}

bool makeUserStateFolder(const std::string& relative) {
  const std::string home = localAppData();
  const DWORD attributes =
      home.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(home.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return false;
  }
  const std::string folder = home + "\\" + relative;
  size_t end = home.size();
  do {
    end = folder.find('\\', end + 1);
    const std::string path = folder.substr(0, end);
    CreateDirectoryA(path.c_str(), nullptr);
    if (!isPlainDirectory(path)) return false;
  } while (end != std::string::npos);
  return true;
}

long processId() { return static_cast<long>(GetCurrentProcessId()); }

// The read-only attribute says little about a directory here; a file made and dropped at
// once tells whether this process may create files in it.
bool isWritableDirectory(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return false;
  }
  std::string probe = path + "\\." + makeUuid() + ".probe";
  HANDLE handle = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  CloseHandle(handle);
  return true;
}

int64_t systemNowTicks() {
  using Ticks = std::chrono::duration<int64_t, std::ratio<1, kTicksPerSecond>>;
  return std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int64_t systemMakeTime(std::tm& calendar) {
  __time64_t seconds = _mktime64(&calendar);
  return seconds == -1 ? -1 : static_cast<int64_t>(seconds);
}

std::string makeUuid() {
  UUID uuid;
  UuidCreate(&uuid);
  RPC_CSTR text = nullptr;
  if (UuidToStringA(&uuid, &text) != RPC_S_OK || text == nullptr) return std::string();
  std::string result(reinterpret_cast<const char*>(text));
  RpcStringFreeA(&text);
  return result;
}

bool utf8ToLocalCodePage(const std::string& utf8, std::string& out) {
  std::wstring wide;
  if (toWide(CP_UTF8, utf8, wide) && fromWide(kLocalCodePage, wide, out)) return true;
  out.clear();
  return false;
}

bool localCodePageToUtf8(const std::string& local, std::string& out) {
  std::wstring wide;
  if (toWide(kLocalCodePage, local, wide) && fromWide(CP_UTF8, wide, out)) return true;
  out.clear();
  return false;
}

std::string ownFolderIn(const std::string& dir) { return dir; }

std::FILE* openForWriting(const std::string& localPath, bool mustBeNew, std::string& reason) {
  std::wstring path = widePath(localPath);
  if (path.empty()) {
    reason = localPath.empty() ? "no file name" : "a name not valid in code page 936";
    return nullptr;
  }
  // Shared for deletion, so that a stop request can remove a file still being written.
  HANDLE handle =
      CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                  mustBeNew ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    reason = systemMessage(GetLastError());
    return nullptr;
  }
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    reason = std::strerror(errno);
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) {
    reason = std::strerror(errno);
    _close(fd);
    return nullptr;
  }
  std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

bool sharedFolderAllows(const std::string&, std::string&) { return true; }

bool emptyOpenFile(std::FILE* file) {
  const int fd = _fileno(file);
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  return GetFileType(handle) != FILE_TYPE_DISK || _chsize_s(fd, 0) == 0;
}

PathKind pathKind(const std::string& localPath) {
  std::wstring path = widePath(localPath);
  if (path.empty()) return PathKind::kNothing;
  HANDLE handle = CreateFileW(
      path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return PathKind::kNothing;
  BY_HANDLE_FILE_INFORMATION info;
  bool regular =
      GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
  CloseHandle(handle);
  if (!regular) return PathKind::kOther;
  return info.nNumberOfLinks == 1 ? PathKind::kRegularFile : PathKind::kLinkedFile;
}

bool replaceFile(const std::string& fromLocal, const std::string& toLocal) {
  std::wstring from = widePath(fromLocal);
  std::wstring to = widePath(toLocal);
  return !from.empty() && !to.empty() &&
         MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

bool removeFile(const std::string& localPath) {
  std::wstring path = widePath(localPath);
  return !path.empty() && DeleteFileW(path.c_str());
}

MutedStandardError::MutedStandardError() : saved_(-1) {
  std::fflush(stderr);
  int nowhere = _open("NUL", _O_WRONLY);
  if (nowhere < 0) return;
  saved_ = _dup(2);
  if (saved_ >= 0) _dup2(nowhere, 2);
  _close(nowhere);
}

MutedStandardError::~MutedStandardError() {
  if (saved_ < 0) return;
  std::fflush(stderr);
  _dup2(saved_, 2);
  _close(saved_);
}

// Windows has no SIGPIPE: a write to a closed pipe already fails like any other.
void ignoreBrokenPipes() {}

void ensureStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (_get_osfhandle(fd) != -1) continue;
    const int opened = _open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
    if (opened >= 0 && opened != fd) {
      _dup2(opened, fd);
      _close(opened);
    }
  }
}

}  // namespace platform
