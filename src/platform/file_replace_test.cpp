// Replacing a file whole: what is written, what is written through, and that no temporary
// file is left behind.
#include "platform/file_replace.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/file_util.h"

using testing_support::readFile;

namespace {

TEST(WriteTextFile, WritesExactlyTheTextAndReportsFailures) {
  std::string dir = testing_support::makeTempDir();
  std::string path = dir + "/r.json";
  testing_support::writeFile(path, "old content that is longer");
  ASSERT_TRUE(platform::writeTextFile(path, "{}"));
  EXPECT_EQ(readFile(path), "{}");

  // A GBK path names the file by its UTF-8 form.
  ASSERT_TRUE(platform::writeTextFile(dir + "/\xD6\xD0.json", "x"));
  EXPECT_EQ(readFile(dir + "/\xE4\xB8\xAD.json"), "x");

  EXPECT_FALSE(platform::writeTextFile(dir + "/missing/r.json", "{}"));
  EXPECT_FALSE(platform::writeTextFile("", "{}"));
  EXPECT_FALSE(platform::writeTextFile(dir + "/\x81", "{}"));  // not a GBK character
  // A write the device cannot take is a failure, not a success.
  if (access("/dev/full", W_OK) == 0) {
    EXPECT_FALSE(platform::writeTextFile("/dev/full", "{}"));
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
  ASSERT_TRUE(platform::writeTextFile(dir + "/link.json", "new"));
  EXPECT_EQ(readFile(dir + "/target.json"), "new");
  char target[4096] = {};
  EXPECT_GT(readlink((dir + "/link.json").c_str(), target, sizeof(target) - 1), 0);

  // A directory in the way is not replaced: the write fails and leaves nothing behind.
  ASSERT_EQ(mkdir((dir + "/taken.json").c_str(), 0755), 0);
  EXPECT_FALSE(platform::writeTextFile(dir + "/taken.json", "{}"));
  EXPECT_EQ(testing_support::listDir(dir).size(), 3u);
#endif
}

}  // namespace
