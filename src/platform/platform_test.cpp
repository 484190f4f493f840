// The platform layer's UUIDs and its conversions of plain ASCII.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

TEST(Platform, UuidsAreRandomVersionFourInLowerCase) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    const std::string uuid = platform::makeUuid();
    ASSERT_EQ(uuid.size(), 36u) << uuid;
    for (size_t at = 0; at < uuid.size(); ++at) {
      if (at == 8 || at == 13 || at == 18 || at == 23) {
        EXPECT_EQ(uuid[at], '-') << uuid;
      } else {
        EXPECT_NE(std::string("0123456789abcdef").find(uuid[at]), std::string::npos) << uuid;
      }
    }
    EXPECT_EQ(uuid[14], '4') << uuid;
    EXPECT_NE(std::string("89ab").find(uuid[19]), std::string::npos) << uuid;
    seen.insert(uuid);
  }
  EXPECT_EQ(seen.size(), 100u);
}

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
