// The result document: its bytes, in memory and streamed into the result file.
#include "run/result_document.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "support/file_util.h"

using testing_support::readFile;

namespace {

TEST(ResultDocument, MembersInOrderCompactWithoutNewline) {
  EXPECT_EQ(buildResultDocument(true, "", ""),
            R"({"code":"success","message":"","data":{"fileitemid":""}})");
  EXPECT_EQ(buildResultDocument(false, "overtime!", "42"),
            R"({"code":"failed","message":"overtime!","data":{"fileitemid":"42"}})");
}

TEST(ResultDocument, EscapesQuotesBackslashesAndControlBytesOnly) {
  std::string controls;
  for (int c = 1; c < 0x20; ++c) controls += static_cast<char>(c);
  std::string doc = buildResultDocument(false, "a\"b\\c/" + controls + "\x7F", "1");
  EXPECT_EQ(doc,
            "{\"code\":\"failed\",\"message\":\"a\\\"b\\\\c/"
            "\\u0001\\u0002\\u0003\\u0004\\u0005\\u0006\\u0007\\b\\t\\n\\u000B\\f\\r\\u000E"
            "\\u000F\\u0010\\u0011\\u0012\\u0013\\u0014\\u0015\\u0016\\u0017\\u0018\\u0019"
            "\\u001A\\u001B\\u001C\\u001D\\u001E\\u001F\x7F\",\"data\":{\"fileitemid\":\"1\"}}");
}

TEST(ResultDocument, MultiByteTextIsCopiedUnvalidatedAndCutAtNul) {
  std::string gbk = "\xD6\xD0\xCE\xC4";
  std::string invalid = "\xFF\xC0";
  EXPECT_EQ(buildResultDocument(true, gbk + invalid,
                                std::string("7\0"
                                            "8",
                                            3)),
            "{\"code\":\"success\",\"message\":\"" + gbk + invalid +
                "\",\"data\":{\"fileitemid\":\"7\"}}");
}

// Every byte but NUL among long plain runs.
std::string everyByteAtEveryOffset() {
  std::string text;
  for (int c = 1; c < 256; ++c) {
    text += std::string(static_cast<size_t>(c % 41), 'p');
    text += static_cast<char>(c);
  }
  return text + std::string(100, 'q');
}

TEST(WriteResultFile, StreamsTheBytesBuiltInMemory) {
  std::string dir = testing_support::makeTempDir();
  std::string message;
  while (message.size() < 3 * 1024 * 1024) message += everyByteAtEveryOffset();
  std::string reason;
  ASSERT_TRUE(writeResultFile(dir + "/r.json", true, message, "12", reason));
  EXPECT_EQ(readFile(dir + "/r.json"), buildResultDocument(true, message, "12"));
  EXPECT_EQ(testing_support::listDir(dir).size(), 1u);
  if (access("/dev/full", W_OK) == 0) {
    EXPECT_FALSE(writeResultFile("/dev/full", true, message, "", reason));
  }
}

}  // namespace
