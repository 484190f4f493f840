// The platform layer: plain ASCII through the code page, and its care for the files a stop
// request interrupts.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <filesystem>

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

// A CA directory counts as hashed by an entry such as OpenSSL's lookup opens, and a bundle
// as changed after it only when it really was.
TEST(Platform, TellsAHashedCaDirectoryAndWhatChangedLast) {
  using namespace testing_support;
  const std::string dir = makeTempDir();
  writeFile(dir + "/ca-certificates.crt", "");
  writeFile(dir + "/9d6523ce.pem", "");
  writeFile(dir + "/9d6523cg.0", "");
  EXPECT_FALSE(platform::holdsHashedCertificates(dir));
  EXPECT_FALSE(platform::holdsHashedCertificates(dir + "/missing"));
  writeFile(dir + "/9d6523CE.12", "");
  EXPECT_TRUE(platform::holdsHashedCertificates(dir));
  const std::string bundle = dir + "/ca-certificates.crt";
  EXPECT_FALSE(platform::changedAfter(bundle, dir));
  // Times set outright: how a write moves a directory's time differs between systems.
  const auto dirTime = std::filesystem::last_write_time(dir);
  std::filesystem::last_write_time(bundle, dirTime + std::chrono::seconds(2));
  EXPECT_TRUE(platform::changedAfter(bundle, dir));
  removeTree(dir);
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
