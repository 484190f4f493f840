// The platform layer's care for the files a stop request interrupts.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include "support/file_util.h"

#ifndef _WIN32
#include <signal.h>

namespace {

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

}  // namespace
#endif
