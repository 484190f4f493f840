// Base64 as the gateway signature and the Basic credential need it.
#include "util/base64.h"

#include <gtest/gtest.h>

#include <string>

TEST(Base64Encode, MatchesRfc4648VectorsOnOneLine) {
  EXPECT_EQ(base64Encode(""), "");
  EXPECT_EQ(base64Encode("f"), "Zg==");
  EXPECT_EQ(base64Encode("fo"), "Zm8=");
  EXPECT_EQ(base64Encode("foo"), "Zm9v");
  EXPECT_EQ(base64Encode("foob"), "Zm9vYg==");
  EXPECT_EQ(base64Encode("fooba"), "Zm9vYmE=");
  EXPECT_EQ(base64Encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(base64Encode(std::string("\0\x01\0\xff\0", 5)), "AAEA/wA=");
  EXPECT_EQ(base64Encode("\xfb\xff\xbf"), "+/+/");
  std::string longText = base64Encode(std::string(300, 'x'));
  EXPECT_EQ(longText.size(), 400u);
  EXPECT_EQ(longText.find('\n'), std::string::npos);
}
