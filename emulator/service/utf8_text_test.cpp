// Checking, cutting and repairing UTF-8 for the journal.
#include "service/utf8_text.h"

#include <gtest/gtest.h>

namespace {

TEST(Utf8Text, ChecksCutsAndRepairs) {
  const std::string euro = "\xE2\x82\xAC";
  const std::string clef = "\xF0\x9D\x84\x9E";
  EXPECT_TRUE(isUtf8("a" + euro + clef + std::string(1, '\0')));
  for (const char* wrong :
       {"\xFF\xFE", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82"}) {
    EXPECT_FALSE(isUtf8(wrong)) << wrong;
  }

  const std::string text = "ab" + clef + euro;  // 2 + 4 + 3 bytes
  EXPECT_EQ(characterBoundary(text, 2), 2u);
  EXPECT_EQ(characterBoundary(text, 3), 2u);
  EXPECT_EQ(characterBoundary(text, 5), 2u);
  EXPECT_EQ(characterBoundary(text, 6), 6u);
  EXPECT_EQ(characterBoundary(text, 8), 6u);
  EXPECT_EQ(characterBoundary(text, 20), 9u);
  EXPECT_EQ(characterBoundary("a\xFF\x80\x80", 3), 3u);  // no character to keep whole

  EXPECT_EQ(validUtf8("a\xFF" + euro + "\xE2\x82"),
            "a\xEF\xBF\xBD" + euro + "\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
