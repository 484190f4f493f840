// The console blocks of an answer.
#include "answers/console_blocks.h"

#include <iostream>

#include "transport/text_encoding.h"

namespace {

// Writes `utf8` as the console shows received text: in the local code page, or as received
// when it holds a character the code page lacks.
void printReceived(const std::string& utf8) {
  const char* begin = utf8.data();
  const char* end = begin + utf8.size();
  const std::string local = isAscii(begin, end) ? std::string() : utf8ToLocal(begin, end);
  std::cout << (local.empty() ? utf8 : local);
}

}  // namespace

void printAnswerBlocks(const std::string& label, const HttpAnswer& answer) {
  std::cout << label << " CURLOPT_WRITEFUNCTION out:\n";
  printReceived(answer.body);
  std::cout << "\n" << std::flush;
  std::cout << label << " CURLOPT_HEADERFUNCTION out:\n";
  printReceived(answer.headerText);
  std::cout << "\n" << std::flush;
}

bool performAndPrint(const HttpRequest& request, HttpAnswer& answer, std::string& reason) {
  if (!performRequest(request, answer, reason)) return false;
  printAnswerBlocks(request.label, answer);
  return true;
}
