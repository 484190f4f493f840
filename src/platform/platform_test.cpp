// The platform layer: plain ASCII through the code page, and its care for the files a stop
// request interrupts.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>

#include "support/file_util.h"

#ifndef _WIN32
#include <signal.h>
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
TEST(RemoveOnTermination, LeavesAnIgnoredSignalIgnored) {
  std::string path = testing_support::makeTempDir() + "/pending.tmp";
  testing_support::writeFile(path, "x");
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction before {};
  sigaction(SIGHUP, &ignore, &before);
  {
    platform::RemoveOnTermination guard(path);
    raise(SIGHUP);
  }
  struct sigaction after {};
  sigaction(SIGHUP, &before, &after);
  EXPECT_EQ(after.sa_handler, SIG_IGN);
  EXPECT_TRUE(testing_support::fileExists(path));
}
#endif

}  // namespace
