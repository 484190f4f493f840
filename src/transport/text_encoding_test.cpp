#include "transport/text_encoding.h"

#include <gtest/gtest.h>

TEST(Utf8ToLocal, ConvertsWhatTheCodePageHolds) {
  EXPECT_EQ(utf8ToLocal(""), "");
  EXPECT_EQ(utf8ToLocal("plain ASCII {\"code\":1}\r\n"), "plain ASCII {\"code\":1}\r\n");
  EXPECT_EQ(utf8ToLocal("\xE4\xB8\xAD\xE6\x96\x87"), "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(utf8ToLocal("a\xE4\xB8\xAD"
                        "b"),
            "a\xD6\xD0"
            "b");
}

TEST(Utf8ToLocal, WholeTextFailsOnACharacterOutsideTheCodePage) {
  EXPECT_EQ(utf8ToLocal("\xE4\xB8\xAD \xED\x95\x9C"), "");  // Hangul syllable
  EXPECT_EQ(utf8ToLocal("\xEF\xBB\xBF{}"), "");             // byte-order mark, U+FEFF
  EXPECT_EQ(utf8ToLocal("\xF0\x9F\x98\x80"), "");           // outside the BMP
}

TEST(Utf8ToLocal, MalformedUtf8GivesTheEmptyText) {
  EXPECT_EQ(utf8ToLocal("ab\x80"), "");  // stray continuation byte
  EXPECT_EQ(utf8ToLocal("\xE4\xB8"
                        "x"),
            "");                               // missing continuation byte
  EXPECT_EQ(utf8ToLocal("ok\xE4\xB8"), "");    // sequence cut off at the end
  EXPECT_EQ(utf8ToLocal("\xC0\xAF"), "");      // overlong "/"
  EXPECT_EQ(utf8ToLocal("\xE0\x80\xAF"), "");  // overlong, three bytes
  EXPECT_EQ(utf8ToLocal("\xED\xA0\x80"), "");  // UTF-16 surrogate
  EXPECT_EQ(utf8ToLocal("\xFF"), "");          // never valid
}

TEST(Utf8ToLocal, LongTextsConvertInFull) {
  std::string utf8;
  std::string local;
  for (int i = 0; i < 20000; ++i) {
    utf8 +=
        "\xE4\xB8\xAD"
        "a";
    local +=
        "\xD6\xD0"
        "a";
  }
  EXPECT_EQ(utf8ToLocal(utf8), local);
}

TEST(IsAscii, WithoutNulRejectsANulOrAHighByteAnywhere) {
  std::string text(70, 'a');
  text[3] = '\x01';
  text[40] = '\x7F';
  EXPECT_TRUE(isAsciiWithoutNul(text.data(), text.data() + text.size()));
  for (char bad : {'\0', '\x80', '\xFF'}) {
    for (size_t at = 0; at < text.size(); ++at) {
      std::string changed = text;
      changed[at] = bad;
      EXPECT_FALSE(isAsciiWithoutNul(changed.data(), changed.data() + changed.size()))
          << static_cast<int>(bad) << " at " << at;
      EXPECT_EQ(isAscii(changed.data(), changed.data() + changed.size()), bad == '\0');
    }
  }
}
