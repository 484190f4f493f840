// The platform layer: plain ASCII through the code page, the requests to end the process,
// each user's own directory in a shared one and their own state folder.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/interrupt.h"
#include "support/file_util.h"
#include "support/other_user.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

TEST(Platform, AsciiCrossesTheCodePageUnchangedAndAnyOtherByteIsConverted) {
  std::string all;
  for (int c = 1; c < 0x80; ++c) all += static_cast<char>(c);
  std::string out;
  ASSERT_TRUE(platform::utf8ToLocalCodePage(all, out));
  EXPECT_EQ(out, all);
  ASSERT_TRUE(platform::localCodePageToUtf8(all, out));
  EXPECT_EQ(out, all);
  // A lone 0x80 is malformed UTF-8: only a conversion notices.
  EXPECT_FALSE(platform::utf8ToLocalCodePage(all + "\x80", out));
  EXPECT_TRUE(out.empty());
}

#ifndef _WIN32
// Under nohup SIGHUP is ignored: a stop request the process ignores must stay ignored, and
// leave the file alone, while a file is guarded.
TEST(CleanUpOnTermination, LeavesAnIgnoredSignalIgnored) {
  std::string path = testing_support::makeTempDir() + "/pending.tmp";
  testing_support::writeFile(path, "x");
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction before {};
  sigaction(SIGHUP, &ignore, &before);
  {
    platform::CleanUpOnTermination guard(path);
    raise(SIGHUP);
  }
  struct sigaction after {};
  sigaction(SIGHUP, &before, &after);
  EXPECT_EQ(after.sa_handler, SIG_IGN);
  EXPECT_TRUE(testing_support::fileExists(path));
}
#endif

// A request to end the process is recorded, whichever thread the signal reaches, and ends the
// pause under way at once, on the real clock; a watch that ended forgets it.
TEST(InterruptWatch, ASignalIsRecordedAndEndsThePauseUnderWay) {
#ifdef _WIN32
  GTEST_SKIP() << "a console event needs a console, which wine gives no test process";
#else
  using std::chrono::milliseconds;
  {
    platform::InterruptWatch watch;
    EXPECT_EQ(platform::interruptRequest(), 0);
    std::thread sender([] {
      std::this_thread::sleep_for(milliseconds(300));
      kill(getpid(), SIGTERM);
    });
    const auto start = std::chrono::steady_clock::now();
    platform::sleepMillis(10000);
    const auto slept = std::chrono::steady_clock::now() - start;
    sender.join();
    EXPECT_GE(slept, milliseconds(250));
    EXPECT_LT(slept, milliseconds(1300));
    EXPECT_EQ(platform::interruptRequest(), SIGTERM);
    EXPECT_EQ(platform::interruptName(SIGTERM), "SIGTERM");
  }
  EXPECT_EQ(platform::interruptRequest(), 0);
#endif
}

#ifndef _WIN32
void handleNothing(int) {}
#endif

// A watch, and a clean-up while a file is written, take the ending signals only while they
// live: the handlers in place before them are back afterwards, an ignored one stays ignored.
TEST(InterruptWatch, TheHandlersInPlaceBeforeAreBackAfterwards) {
#ifdef _WIN32
  GTEST_SKIP() << "the console control handler has no predecessor to restore";
#else
  struct sigaction own {};
  own.sa_handler = handleNothing;
  struct sigaction saved[3];
  const int signals[] = {SIGTERM, SIGINT, SIGHUP};
  for (int i = 0; i < 3; ++i) ASSERT_EQ(sigaction(signals[i], &own, &saved[i]), 0);
  signal(SIGHUP, SIG_IGN);
  {
    platform::InterruptWatch watch;
    platform::CleanUpOnTermination cleanUp(std::string("/nowhere/x.tmp"));
    struct sigaction during {};
    sigaction(SIGTERM, nullptr, &during);
    EXPECT_NE(during.sa_handler, handleNothing);
  }
  for (int i = 0; i < 3; ++i) {
    struct sigaction after {};
    sigaction(signals[i], nullptr, &after);
    EXPECT_EQ(after.sa_handler, signals[i] == SIGHUP ? SIG_IGN : handleNothing) << signals[i];
    sigaction(signals[i], &saved[i], nullptr);
  }
#endif
}

// A text file is read whole at once or refused: never a device, never more than asked for, and
// a pipe only while a writer has something to say.
TEST(ReadTextFile, ReadsWholeFilesAndPipesAndRefusesTheRest) {
  using namespace testing_support;
  const std::string dir = makeTempDir();
  writeFile(dir + "/job.json", std::string("{}\0tail", 7));
  std::string text;
  std::string reason;
  EXPECT_TRUE(platform::readTextFile(dir + "/job.json", text, reason, 7));
  EXPECT_EQ(text, "{}");
  EXPECT_FALSE(platform::readTextFile(dir + "/job.json", text, reason, 6));
  EXPECT_EQ(reason, "larger than 6 bytes");
  EXPECT_FALSE(platform::readTextFile(dir, text, reason, 100));
#ifndef _WIN32
  EXPECT_EQ(reason, "a directory");
  EXPECT_FALSE(platform::readTextFile("/dev/zero", text, reason, 100));
  EXPECT_EQ(reason, "a device, not a file");
  const std::string fifo = dir + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(platform::readTextFile(fifo, text, reason, 100));
  EXPECT_EQ(reason, "a pipe without a writer");
  EXPECT_FALSE(platform::isReadableFile(fifo, reason));
  // A pipe whose writer takes its time, as "producer | marluneTranslate -cfg /dev/stdin" has.
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  std::thread writer([&ends] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(write(ends[1], "{\"a\":1}", 7), 7);
    close(ends[1]);
  });
  EXPECT_TRUE(platform::readTextFile("/proc/self/fd/" + std::to_string(ends[0]), text, reason, 100))
      << reason;
  writer.join();
  close(ends[0]);
  EXPECT_EQ(text, "{\"a\":1}");
#endif
  removeTree(dir);
}

// In a directory every user may write to, sticky like /tmp, each user keeps their own files
// in a directory of their own, made for them alone; one that someone else made is refused.
TEST(OwnFolderIn, ASharedStickyDirectoryGivesEachUserADirectoryOfTheirOwn) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no sticky directories";
#else
  using namespace testing_support;
  const std::string plain = makeTempDir();
  EXPECT_EQ(platform::ownFolderIn(plain), plain);
  removeTree(plain);
  const std::string shared = makeTempDir();
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  const std::string own = shared + "/" + std::to_string(geteuid());
  EXPECT_EQ(platform::ownFolderIn(shared), own);
  struct stat made {};
  ASSERT_EQ(lstat(own.c_str(), &made), 0);
  EXPECT_EQ(made.st_mode & 07777, 0700u);
  EXPECT_EQ(platform::ownFolderIn(shared), own);  // and the next run uses it again
  removeTree(own);
  if (!canActAsOtherUser()) GTEST_SKIP() << "needs root to plant a directory as another user";
  ASSERT_EQ(asOtherUser([&own] { return mkdir(own.c_str(), 0777) == 0 ? 0 : 1; }), 0);
  EXPECT_EQ(platform::ownFolderIn(shared), "");
  removeTree(shared);
#endif
}

// The state folder is $XDG_STATE_HOME when that is an absolute path, else $HOME/.local/state;
// the folders made there are the user's alone, a link is no folder of theirs, and a missing
// home is not made. (Neither variable usable: the end-to-end test of an installed client.)
TEST(UserStateFolder, LiesInXdgStateHomeOrTheHomeAndIsTheUsersAlone) {
#ifdef _WIN32
  GTEST_SKIP() << "%LOCALAPPDATA% is tried by the end-to-end test of an installed client";
#else
  using namespace testing_support;
  const std::string dir = makeTempDir();
  const bool hadHome = std::getenv("HOME") != nullptr;
  const std::string savedHome = hadHome ? std::getenv("HOME") : "";
  ASSERT_EQ(setenv("HOME", (dir + "/home").c_str(), 1), 0);
  ASSERT_EQ(setenv("XDG_STATE_HOME", "relative/state", 1), 0);
  EXPECT_FALSE(platform::makeUserStateFolder("app/logs"));
  EXPECT_EQ(listDir(dir), std::vector<std::string>());
  ASSERT_EQ(mkdir((dir + "/home").c_str(), 0755), 0);
  EXPECT_EQ(platform::userStateFolder("app/logs"), dir + "/home/.local/state/app/logs");
  EXPECT_TRUE(platform::makeUserStateFolder("app/logs"));
  for (const char* folder : {"/.local", "/.local/state", "/.local/state/app/logs"}) {
    struct stat made {};
    ASSERT_EQ(lstat((dir + "/home" + folder).c_str(), &made), 0) << folder;
    EXPECT_EQ(made.st_mode & 07777, 0700u) << folder;
  }
  ASSERT_EQ(setenv("XDG_STATE_HOME", (dir + "/state/").c_str(), 1), 0);
  EXPECT_EQ(platform::userStateFolder("app/logs"), dir + "/state/app/logs");
  EXPECT_TRUE(platform::makeUserStateFolder("app/logs"));
  ASSERT_EQ(rmdir((dir + "/state/app/logs").c_str()), 0);
  ASSERT_EQ(symlink((dir + "/home").c_str(), (dir + "/state/app/logs").c_str()), 0);
  EXPECT_FALSE(platform::makeUserStateFolder("app/logs"));
  unsetenv("XDG_STATE_HOME");
  if (hadHome) setenv("HOME", savedHome.c_str(), 1);
  removeTree(dir);
#endif
}

}  // namespace
