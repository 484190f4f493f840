// Texts that go to logs: secrets hidden, texts from outside bounded and on one line.
#include "util/masking.h"

#include <gtest/gtest.h>

namespace {

TEST(MaskCredentials, HidesOnlyTheCredentialValue) {
  EXPECT_EQ(maskCredentials("http://h/oauth2/token?credential=a+b/c=="),
            "http://h/oauth2/token?credential=***");
  EXPECT_EQ(maskCredentials("http://h/t?x=1&credential=abc&y=2"),
            "http://h/t?x=1&credential=***&y=2");
  EXPECT_EQ(maskCredentials("http://h/t?credential=a&credential=b#f"),
            "http://h/t?credential=***&credential=***#f");
  EXPECT_EQ(maskCredentials("http://h/t?fileId=5"), "http://h/t?fileId=5");
  EXPECT_EQ(maskCredentials("http://h/credential=abc"), "http://h/credential=abc");
  EXPECT_EQ(maskCredentials("http://h/t?mycredential=abc&credentials=x"),
            "http://h/t?mycredential=abc&credentials=x");
  // A token URL configured with its own query gets the credential after a second "?".
  EXPECT_EQ(maskCredentials("http://h/t?v=1?credential=a+b/c=="), "http://h/t?v=1?credential=***");
}

TEST(MaskCredentials, HidesThePasswordOfEveryUrlInAText) {
  EXPECT_EQ(maskCredentials("https://user:p@ss:w@h:8080/t?x=1"), "https://user:***@h:8080/t?x=1");
  EXPECT_EQ(maskCredentials("to http://u:p@h and ftp://v:q@g/x failed"),
            "to http://u:***@h and ftp://v:***@g/x failed");
  EXPECT_EQ(maskCredentials("http://user@h/t"), "http://user@h/t");
  EXPECT_EQ(maskCredentials("http://h:8080/t@x:y"), "http://h:8080/t@x:y");
}

TEST(LoggableText, IsBoundedAndKeepsToOneLine) {
  EXPECT_EQ(loggableText("bad client", 10), "bad client");
  EXPECT_EQ(loggableText("bad client id", 10), "bad client...");
  EXPECT_EQ(loggableText("a\r\nX: 1\x1b[2J\x7f\xE4\xB8\xAD", 20),
            "a\\x0d\\x0aX: 1\\x1b[2J\\x7f\xE4\xB8\xAD");
}

}  // namespace
