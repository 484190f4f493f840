// The operating-system services the client needs, behind one small interface. Each system
// has one implementation file (platform_posix.cpp, with file_access_posix.cpp for opening
// files; platform_windows.cpp), and one for the requests to end the process (interrupt.h);
// what is the same on every system lives in files of its own (clock.cpp, ca_directory.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace platform {

// Full path of the running program (links resolved on POSIX systems); `argv0` when the system
// cannot tell.
std::string programPath(const char* argv0);

// Separator between the directory and the name in a path.
extern const char kPathSeparator[];

// The whole file at `path`, up to its first NUL byte, in `text`. A pipe is read until its
// writer closes it; a pipe without a writer, a device and a directory are refused, and so is
// more than `maxBytes` bytes. False, with the reason in `reason` (the system's, or what the
// path is), when the file cannot be read whole at once; also when the process is asked to end
// while waiting for a pipe's writer.
bool readTextFile(const std::string& path, std::string& text, std::string& reason, size_t maxBytes);

// True when `path` names a regular file (links followed) that this process may read; false with
// the reason otherwise: the system's, or that it is a device, a pipe or a directory.
bool isReadableFile(const std::string& path, std::string& reason);

// True when a file may be made at `localPath` (local code page) as far as its path goes: its
// folder is a directory and the path is not one itself. False with the reason otherwise.
bool isFileLocation(const std::string& localPath, std::string& reason);

// True when something exists at `path`.
bool pathExists(const std::string& path);

// Creates the directory `path`; failure is silently ignored.
void makeDirectory(const std::string& path);

// True when the directory `path` holds an entry named as OpenSSL names certificates by their
// subject hash: eight hexadecimal digits, ".", a number ("9d6523ce.0").
bool holdsHashedCertificates(const std::string& path);

// True when `path` was modified after `other` was (both exist).
bool changedAfter(const std::string& path, const std::string& other);

// True when `path` is a directory in which this process may create files.
bool isWritableDirectory(const std::string& path);

// The directory this process's user keeps its own files in inside the directory `dir`: `dir`
// itself, unless every user may write to it and it is sticky, as /tmp is; then the user's own
// directory in it, `dir`/<user id>, made with mode 0700 when missing, and empty when what is
// there is not a directory of this user's (links not followed). Windows has no sticky
// directories: always `dir`.
std::string ownFolderIn(const std::string& dir);

// Where this user's folder `relative` (folders joined by kPathSeparator) lies in their state
// folder: $XDG_STATE_HOME when that is an absolute path, else $HOME/.local/state; on Windows
// %LOCALAPPDATA%. A variable that is unset or not an absolute path stands there by its name
// ("$HOME/.local/state/..."). Makes nothing.
std::string userStateFolder(const std::string& relative);

// Makes userStateFolder(relative) where missing, each folder made with mode 0700 (but never
// $HOME itself). False when there is no such home, when the state folder is not a directory
// of this user's, or when a folder of `relative` is not (links not followed). On Windows the
// folders take the rights of %LOCALAPPDATA%, which is the user's alone, and a folder of
// `relative` must be a directory that is no link or junction.
bool makeUserStateFolder(const std::string& relative);

// This process's id, as the system gives it (glog puts it into its log files' names).
long processId();

// Wall clock: 100-nanosecond ticks since 1970-01-01 00:00:00 UTC.
int64_t nowTicks();
const int64_t kTicksPerSecond = 10000000;

// A clock that only moves forward, whatever is done to the wall clock: 100-nanosecond ticks
// since an arbitrary start. For measuring how long something took.
int64_t steadyTicks();

// Blocks the calling thread for `ms` milliseconds; with the system's clock, for less once a
// request to end the process was recorded (see InterruptWatch), which ends the pause at once.
void sleepMillis(unsigned ms);

// Replaceable source of time, so tests need not wait for minutes.
class TimeSource {
 public:
  virtual ~TimeSource() = default;
  virtual int64_t nowTicks() = 0;
  virtual void sleepMillis(unsigned ms) = 0;
  // The steady clock; by default the same as nowTicks.
  virtual int64_t steadyTicks() { return nowTicks(); }
};

// Routes nowTicks, steadyTicks and sleepMillis to `source`; nullptr restores the system's.
void setTimeSourceForTesting(TimeSource* source);

// The system's own clock and sleep, which nowTicks and sleepMillis use by default.
int64_t systemNowTicks();
void systemSleepMillis(unsigned ms);

// Seconds since the epoch of a local calendar time taken as standard time
// (no daylight saving), or -1 when it cannot be represented.
int64_t localTimeToSeconds(int year, int month, int day, int hour, int minute, int second);

// The system's mktime with 64-bit seconds: -1 when `calendar` cannot be represented.
int64_t systemMakeTime(std::tm& calendar);

// A new random UUID: 36 characters, lower-case hexadecimal, hyphens after 8, 12, 16, 20 digits.
std::string makeUuid();

// UTF-8 to the local code page (GBK, code page 936), strictly: false and `out` empty when
// `utf8` is malformed or holds a character the code page cannot represent.
bool utf8ToLocalCodePage(const std::string& utf8, std::string& out);

// The local code page back to UTF-8, strictly: false and `out` empty when `local` is not
// valid in the code page.
bool localCodePageToUtf8(const std::string& local, std::string& out);

// Opens for writing, unbuffered, a file whose name is held in the local code page, so that it
// gets the name the caller wrote: created or emptied, or only created when `mustBeNew`. A
// pipe opens without waiting for a reader; without one the open fails at once. Where
// sharedFolderAllows refuses the path, it is not opened. nullptr, with the system's reason
// in `reason`, when the open fails.
std::FILE* openForWriting(const std::string& localPath, bool mustBeNew, std::string& reason);

// False, with the reason in `reason`, when `localPath` lies in a directory every user may
// write to that is sticky, as /tmp is, and holds a link or file that belongs neither to this
// process's user nor to the directory's owner: such a link is not followed and such a file
// not written to, as the kernel's protected_symlinks and protected_regular settings would
// have it, whatever they are. The same holds for every folder on the way to `localPath`: none
// may be such a link. Always true on Windows, which has no sticky directories.
bool sharedFolderAllows(const std::string& localPath, std::string& reason);

// Empties the regular file open as `file` (a device or pipe stays as it is). False when it
// cannot.
bool emptyOpenFile(std::FILE* file);

// What occupies a path (local code page), links not followed: nothing, a regular file with
// one name, a regular file with more than one (hard links), or anything else (a link, a
// device, a pipe, a directory).
enum class PathKind { kNothing, kRegularFile, kLinkedFile, kOther };
PathKind pathKind(const std::string& localPath);

// Moves the file `fromLocal` over `toLocal` in one step, replacing what is there (and, on POSIX
// systems, taking its permission bits); both names in the local code page. False when it cannot.
bool replaceFile(const std::string& fromLocal, const std::string& toLocal);

// Removes the file `localPath`. False when it cannot.
bool removeFile(const std::string& localPath);

// While alive, what is written to standard error goes nowhere (for a library that complains
// there of what the caller reports in its own words). Standard error is flushed at both ends.
class MutedStandardError {
 public:
  MutedStandardError();
  ~MutedStandardError();
  MutedStandardError(const MutedStandardError&) = delete;
  MutedStandardError& operator=(const MutedStandardError&) = delete;

 private:
  int saved_;
};

// Writing to a standard stream whose reader has gone fails like any other write instead of
// ending the process.
void ignoreBrokenPipes();

// Puts the null device on each of standard input, output and error that is closed, so that no
// file the process opens later takes its number, and with it what is meant for that stream.
void ensureStandardStreams();

}  // namespace platform
