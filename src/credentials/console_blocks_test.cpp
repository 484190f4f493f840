// The console blocks an answer is shown in.
#include "credentials/console_blocks.h"

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

}  // namespace
