// Replacing a file whole: what is written, what is written through, that no temporary file
// nor part of the content is left behind, what another user left in a shared directory, and
// clearing an earlier result.
#include "platform/file_replace.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "support/file_util.h"
#include "support/other_user.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

using testing_support::fileExists;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

// platform::writeTextFile, its reason left aside.
bool writeText(const std::string& path, const std::string& text) {
  std::string reason;
  return platform::writeTextFile(path, text, reason);
}

TEST(WriteTextFile, WritesExactlyTheTextAndReportsFailures) {
  std::string dir = testing_support::makeTempDir();
  std::string path = dir + "/r.json";
  testing_support::writeFile(path, "old content that is longer");
  ASSERT_TRUE(writeText(path, "{}"));
  EXPECT_EQ(readFile(path), "{}");

  // A GBK path names the file by its UTF-8 form.
  ASSERT_TRUE(writeText(dir + "/\xD6\xD0.json", "x"));
  EXPECT_EQ(readFile(dir + "/\xE4\xB8\xAD.json"), "x");

  EXPECT_FALSE(writeText(dir + "/missing/r.json", "{}"));
  EXPECT_FALSE(writeText("", "{}"));
  EXPECT_FALSE(writeText(dir + "/\x81", "{}"));  // not a GBK character
  // A write the device cannot take is a failure, not a success.
  if (access("/dev/full", W_OK) == 0) {
    EXPECT_FALSE(writeText("/dev/full", "{}"));
  }
  // Whatever happened, only the files written remain: no temporary file is left.
  EXPECT_EQ(testing_support::listDir(dir).size(), 2u);
}

TEST(WriteTextFile, ReplacesAFileButWritesThroughALink) {
#ifdef _WIN32
  GTEST_SKIP() << "making a symbolic link takes a privilege on Windows";
#else
  std::string dir = testing_support::makeTempDir();
  testing_support::writeFile(dir + "/target.json", "old");
  ASSERT_EQ(symlink((dir + "/target.json").c_str(), (dir + "/link.json").c_str()), 0);
  ASSERT_TRUE(writeText(dir + "/link.json", "new"));
  EXPECT_EQ(readFile(dir + "/target.json"), "new");
  char target[4096] = {};
  EXPECT_GT(readlink((dir + "/link.json").c_str(), target, sizeof(target) - 1), 0);

  // A directory in the way is not replaced: the write fails and leaves nothing behind.
  ASSERT_EQ(mkdir((dir + "/taken.json").c_str(), 0755), 0);
  EXPECT_FALSE(writeText(dir + "/taken.json", "{}"));
  EXPECT_EQ(testing_support::listDir(dir).size(), 3u);
#endif
}

// A file written in place (it has another name) is emptied when the write fails, so that no
// part of the content stays; the reason is the system's.
TEST(WriteTextFile, AWriteInPlaceThatFailsLeavesTheFileEmpty) {
#ifdef _WIN32
  GTEST_SKIP() << "the write is made to fail by a file size limit, which Windows does not have";
#else
  const std::string dir = testing_support::makeTempDir();
  writeFile(dir + "/r.json", "an earlier result");
  ASSERT_EQ(link((dir + "/r.json").c_str(), (dir + "/other-name").c_str()), 0);
  struct rlimit before {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  struct rlimit small = before;
  small.rlim_cur = 8;
  void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string message;
  const bool written = platform::writeTextFile(dir + "/r.json", std::string(100, 'x'), message);
  setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(written);
  EXPECT_EQ(message, std::strerror(EFBIG));
  EXPECT_EQ(readFile(dir + "/other-name"), "");
  EXPECT_EQ(testing_support::listDir(dir).size(), 2u);
  testing_support::removeTree(dir);
#endif
}

// A pipe is written through when it has a reader, and fails at once, with the system's
// reason, when it has none, where the client used to wait for one for ever.
TEST(WriteTextFile, APipeWithoutAReaderFailsAtOnce) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no named pipes in its file system";
#else
  const std::string dir = testing_support::makeTempDir();
  const std::string pipe = dir + "/result.json";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  std::string message;
  EXPECT_FALSE(platform::writeTextFile(pipe, "{}", message));
  EXPECT_EQ(message, std::strerror(ENXIO));
  const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_TRUE(writeText(pipe, "{}"));
  char got[8] = {};
  EXPECT_EQ(read(reader, got, sizeof(got)), 2);
  close(reader);
  testing_support::removeTree(dir);
#endif
}

// In a directory every user may write to, sticky like /tmp, a link another user planted is
// not followed and a file another user planted is not written to, whatever the kernel's own
// protected_symlinks and protected_regular say; a run does not start on such a link.
TEST(WriteTextFile, InASharedDirectoryWhatAnotherUserPlantedIsLeftAlone) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no sticky directories";
#else
  if (!testing_support::canActAsOtherUser()) {
    GTEST_SKIP() << "needs root to plant a link and a file as another user";
  }
  const std::string dir = testing_support::makeTempDir();
  const std::string elsewhere = testing_support::makeTempDir();
  const std::string mine = elsewhere + "/mine";
  writeFile(mine, "the caller's");
  ASSERT_EQ(chmod(dir.c_str(), 01777), 0);
  const std::string link = dir + "/link.json";
  const std::string planted = dir + "/planted.json";
  ASSERT_EQ(testing_support::asOtherUser([&] {
              const int fd = open(planted.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
              const bool made = fd >= 0 && fchmod(fd, 0666) == 0 && close(fd) == 0;
              return made && symlink(mine.c_str(), link.c_str()) == 0 ? 0 : 1;
            }),
            0);
  std::string message;
  EXPECT_FALSE(platform::writeTextFile(link, "{}", message));
  EXPECT_EQ(message, "a link of another user in a shared directory");
  EXPECT_EQ(readFile(mine), "the caller's");
  EXPECT_FALSE(platform::clearFile(link, message));
  EXPECT_EQ(platform::openForWriting(planted, false, message), nullptr);
  EXPECT_EQ(message, "a file of another user in a shared directory");
  testing_support::removeTree(dir);
  testing_support::removeTree(elsewhere);
#endif
}

// Before a run an earlier result goes: removed, or emptied where its directory forbids
// removing it; a link and what it points to stay as they are.
TEST(ClearFile, RemovesAnEarlierResultOrEmptiesItAndLeavesLinksAlone) {
  const std::string dir = testing_support::makeTempDir();
  writeFile(dir + "/r.json", R"({"code":"success"})");
  std::string message;
  EXPECT_TRUE(platform::clearFile(dir + "/r.json", message));
  EXPECT_FALSE(fileExists(dir + "/r.json"));
  EXPECT_TRUE(platform::clearFile(dir + "/r.json", message));
#ifndef _WIN32
  writeFile(dir + "/target", "kept");
  ASSERT_EQ(symlink((dir + "/target").c_str(), (dir + "/link.json").c_str()), 0);
  EXPECT_TRUE(platform::clearFile(dir + "/link.json", message));
  EXPECT_EQ(readFile(dir + "/target"), "kept");
  // Root may remove anything: the user nobody clears a file of theirs there instead.
  const std::string locked = dir + "/locked";
  ASSERT_EQ(mkdir(locked.c_str(), 0755), 0);
  writeFile(locked + "/r.json", "old");
  const bool asOther = testing_support::canActAsOtherUser();
  if (asOther) {
    ASSERT_EQ(chown((locked + "/r.json").c_str(), testing_support::kOtherUser, 0), 0);
  }
  ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
  auto clear = [&locked] {
    std::string reason;
    return platform::clearFile(locked + "/r.json", reason) ? 0 : 1;
  };
  EXPECT_EQ(asOther ? testing_support::asOtherUser(clear) : clear(), 0);
  EXPECT_TRUE(fileExists(locked + "/r.json"));
  EXPECT_EQ(readFile(locked + "/r.json"), "");
  chmod(locked.c_str(), 0755);
#endif
  testing_support::removeTree(dir);
}

}  // namespace
