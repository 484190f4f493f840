// Feeds arbitrary bytes, raw and as every request receives them, to the readers of the five
// answers.
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>

#include "credentials/access_token.h"
#include "credentials/gateway_token.h"
#include "credentials/project_lookup.h"
#include "job/translate_commit.h"
#include "job/translate_status.h"
#include "transport/text_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::ostringstream sink;
  static std::streambuf* quiet = (std::cout.rdbuf(sink.rdbuf()), sink.rdbuf());
  (void)quiet;
  sink.str(std::string());

  const std::string raw(reinterpret_cast<const char*>(data), size);
  const std::string answer = utf8OrEmpty(raw);
  for (const std::string* text : {&raw, &answer}) {
    std::string kept = "kept";
    std::string message;
    std::string reason;
    int64_t expiry = 0;
    HttpAnswer received;
    received.body = *text;
    received.status = 200;
    std::string token = readTokenAnswer(received, kept, expiry, reason);
    if (token.find_first_of("\r\n") != std::string::npos) __builtin_trap();
    if (token.empty() == reason.empty()) __builtin_trap();
    readCommitAnswer(*text, message);
    int outcome = parseTranslateStatus(*text, message);
    if (outcome < kStatusFailed || outcome > kStatusProcessing) __builtin_trap();
    if (gatewayTokenFromAnswer(*text, reason).find_first_of("\r\n") != std::string::npos) {
      __builtin_trap();
    }
    std::string id = projectIdFromAnswer(*text, reason);
    if (id.find_first_not_of("0123456789") != std::string::npos) __builtin_trap();
  }
  return 0;
}
