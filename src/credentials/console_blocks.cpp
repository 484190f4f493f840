// The console blocks of an answer.
#include "credentials/console_blocks.h"

#include <iostream>

void printAnswerBlocks(const std::string& label, const HttpAnswer& answer) {
  std::cout << label << " CURLOPT_WRITEFUNCTION out:\n" << answer.body << "\n" << std::flush;
  std::cout << label << " CURLOPT_HEADERFUNCTION out:\n" << answer.headerText << "\n" << std::flush;
}

bool performAndPrint(const HttpRequest& request, HttpAnswer& answer, std::string* message) {
  if (!performRequest(request, answer, message)) return false;
  printAnswerBlocks(request.label, answer);
  return true;
}
