// The console blocks an answer is shown in.
#include "answers/console_blocks.h"

#include <gtest/gtest.h>

#include "support/capture.h"

using testing_support::CoutCapture;

namespace {

TEST(ConsoleBlocks, PrintsTheTwoConsoleBlocks) {
  CoutCapture out;
  printAnswerBlocks("commitTranslate", HttpAnswer{"{\"x\":2}", "HTTP/1.1 200 OK\r\n\r\n"});
  EXPECT_EQ(out.text(),
            "commitTranslate CURLOPT_WRITEFUNCTION out:\n{\"x\":2}\n"
            "commitTranslate CURLOPT_HEADERFUNCTION out:\nHTTP/1.1 200 OK\r\n\r\n\n");
}

// A text is shown in the local code page when it has a form there, else as it was received.
TEST(ConsoleBlocks, ShowTextsInTheLocalCodePageOrAsReceived) {
  CoutCapture out;
  const std::string german =
      "{\"message\":\"Datei besch\xC3\xA4"
      "digt\"}";
  printAnswerBlocks("getTranslateStatus", HttpAnswer{german, "X-Name: \xE4\xB8\xAD\r\n"});
  EXPECT_EQ(out.text(),
            "getTranslateStatus CURLOPT_WRITEFUNCTION out:\n" + german +
                "\ngetTranslateStatus CURLOPT_HEADERFUNCTION out:\nX-Name: \xD6\xD0\r\n\n");
}

}  // namespace
