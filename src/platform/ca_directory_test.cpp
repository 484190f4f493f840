// The CA directory checks behind the transport's choice of trust.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "support/file_util.h"

namespace {

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

}  // namespace
