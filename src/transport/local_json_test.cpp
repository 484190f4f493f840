#include "transport/local_json.h"

#include <gtest/gtest.h>

#include "transport/text_encoding.h"

namespace {

// U+8AA0 and U+4E57: in the local code page their second byte is a backslash (D5 5C, 81 5C).
const char kBackslashCharacters[] = "\xE8\xAA\xA0\xE4\xB9\x97";

TEST(ParseLocalJson, CharactersWhoseLocalFormEndsInABackslashStayCharacters) {
  LocalJson json;
  ASSERT_TRUE(json.parse(std::string("{\"message\":\"") + kBackslashCharacters + "\"}"));
  std::string message;
  ASSERT_TRUE(getLocalStringMember(json.doc(), "message", message));
  EXPECT_EQ(message, "\xD5\x5C\x81\x5C");
}

TEST(ParseLocalJson, EscapesAreDecodedIntoTheLocalCodePage) {
  LocalJson json;
  ASSERT_TRUE(json.parse("{\"a\":\"\\u4e2d\",\"b\":\"\\uD55C\",\"c\":\"x\\u0000y\"}"));
  const rapidjson::Document& doc = json.doc();
  std::string text;
  ASSERT_TRUE(getLocalStringMember(doc, "a", text));
  EXPECT_EQ(text, "\xD6\xD0");
  ASSERT_TRUE(getLocalStringMember(doc, "b", text));
  EXPECT_EQ(text, "\xED\x95\x9C");  // no local form: kept as decoded
  ASSERT_TRUE(getLocalStringMember(doc, "c", text));
  EXPECT_EQ(text, "x");
  EXPECT_FALSE(getLocalStringMember(doc, "missing", text));
}

TEST(ParseLocalJson, LongStringsAreReadAsStrictlyAsShortOnes) {
  const std::string plain(45, 'p');
  for (int c = 1; c < 0x20; ++c) {
    for (size_t at : {0, 7, 16, 44}) {
      LocalJson json;
      std::string text = plain;
      text[at] = static_cast<char>(c);
      EXPECT_FALSE(json.parse("{\"m\":\"" + text + "\"}")) << c << " at " << at;
    }
  }
  LocalJson json;
  ASSERT_TRUE(json.parse("{\"m\":\"" + plain + "\\n" + plain + "\\u0041\\\"" + plain +
                         "\xE4\xB8\xAD\\\\" + plain + "\"}"));
  std::string text;
  ASSERT_TRUE(getLocalStringMember(json.doc(), "m", text));
  EXPECT_EQ(text, plain + "\n" + plain + "A\"" + plain + "\xD6\xD0\\" + plain);
}

TEST(ParseLocalJson, TakingAStringGivesWhatReadingItGives) {
  const std::string answers[] = {
      "{\"m\":\"" + std::string(5000, 'a') + "\\\"\\n\\u0041\",\"m\":\"second\"}",
      "{\"code\":1,\"m\":\"x\\u0000y\"}",
      "{\"m\":\"\\u4e2d\\uD55C\"}",
      "{\"m\":\"\xE4\xB8\xAD\"}",
      "{\"m\":7}",
      "{}",
  };
  for (const std::string& answer : answers) {
    LocalJson read;
    ASSERT_TRUE(read.parse(answer)) << answer;
    std::string expected = "unchanged";
    const bool found = getLocalStringMember(read.doc(), "m", expected);
    LocalJson taken;
    ASSERT_TRUE(taken.parse(answer));
    std::string text = "unchanged";
    EXPECT_EQ(taken.takeLocalStringMember("m", text), found) << answer;
    EXPECT_EQ(text, expected) << answer;
  }
}

TEST(ParseLocalJson, ByteOrderMarkOnlyWhenAsked) {
  LocalJson json;
  EXPECT_TRUE(json.parse("\xEF\xBB\xBF{}", true));
  EXPECT_TRUE(json.parse("\xBB\xBF{}", true));
  EXPECT_FALSE(json.parse("\xEF\xBB\xBF{}"));
  EXPECT_FALSE(json.parse("\"\x81\""));  // not UTF-8
  EXPECT_FALSE(json.parse(""));
}

// A document of more values than the budget is refused however small it is, so that no answer
// can make the parsed document grow past a few dozen bytes a value.
TEST(ParseLocalJson, NoMoreValuesThanTheBudgetAreRead) {
  std::string text = "[";
  for (size_t i = 2; i < kMaxReceivedValues; ++i) text += "0,";
  text += "0]";
  LocalJson json;
  EXPECT_TRUE(json.parse(text));
  EXPECT_EQ(json.doc().Size(), kMaxReceivedValues - 1);
  EXPECT_FALSE(json.parse("[0," + text.substr(1)));
}

}  // namespace
