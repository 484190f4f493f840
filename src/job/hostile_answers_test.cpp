// Hostile answers fed to the readers of all five requests: the service token, the gateway
// token, the project lookup, the commit and the status query. Each input goes the way a
// received body goes (collected chunk by chunk, kept when it is well-formed UTF-8) and
// then to every reader, which must end as an unusable answer or exactly as a usable one.
#include <gtest/gtest.h>

#include <string>

#include "credentials/access_token.h"
#include "credentials/gateway_token.h"
#include "credentials/project_lookup.h"
#include "job/translate_commit.h"
#include "job/translate_status.h"
#include "support/capture.h"
#include "transport/http_exchange.h"
#include "transport/local_json.h"
#include "transport/text_encoding.h"

using testing_support::CoutCapture;

namespace {

// The gateway token and the project id an answer gives, their reasons left aside.
std::string gatewayTokenOf(const std::string& answer) {
  std::string reason;
  return gatewayTokenFromAnswer(answer, reason);
}
std::string projectIdOf(const std::string& answer) {
  std::string reason;
  return projectIdFromAnswer(answer, reason);
}

const size_t kMiB = 1024 * 1024;
const size_t kChunk = 16 * 1024;  // libcurl's largest body chunk

// What the five readers made of one answer. Token, commit and status readers start from
// the token "kept" and the message "before".
struct Readings {
  std::string token;
  std::string keptToken;
  std::string tokenReason;  // why the token reader gave none
  std::string gatewayToken;
  std::string projectId;
  bool committed = false;
  std::string commitMessage;
  int status = kStatusProcessing;
  std::string statusMessage;
  std::string statusMarks;
};

Readings readAll(const std::string& answer) {
  Readings r;
  r.keptToken = "kept";
  r.commitMessage = r.statusMessage = "before";
  int64_t tokenExpiry = 0;
  HttpAnswer http;
  http.body = answer;
  http.status = 200;
  r.token = readTokenAnswer(http, r.keptToken, tokenExpiry, r.tokenReason);
  r.gatewayToken = gatewayTokenOf(answer);
  r.projectId = projectIdOf(answer);
  r.committed = readCommitAnswer(answer, r.commitMessage);
  CoutCapture marks;
  r.status = parseTranslateStatus(answer, r.statusMessage);
  r.statusMarks = marks.text();
  return r;
}

// The text a reader gets when `wire` arrives as a body: collected in libcurl-sized chunks,
// then kept when it is well-formed UTF-8.
std::string received(const std::string& wire) {
  ResponseBuffer buffer;
  for (size_t pos = 0; pos < wire.size(); pos += kChunk) {
    std::string chunk = wire.substr(pos, kChunk);
    collectChunk(&chunk[0], 1, chunk.size(), &buffer);
  }
  return utf8OrEmpty(buffer.text);
}

// One answer that every reader accepts, with `message` as its (raw JSON string) message.
std::string allGood(const std::string& message = "m", const std::string& token = "T") {
  return R"({"code":"success","message":")" + message + R"(","data":{"token":")" + token +
         R"(","status":"success"},"access_token":")" + token + R"(","project":{"id":7}})";
}

void expectUsable(const Readings& r, const std::string& message = "m",
                  const std::string& token = "T") {
  EXPECT_EQ(r.token, token);
  EXPECT_EQ(r.keptToken, token);
  EXPECT_EQ(r.tokenReason, "");
  EXPECT_EQ(r.gatewayToken, token);
  EXPECT_EQ(r.projectId, "7");
  EXPECT_TRUE(r.committed);
  EXPECT_TRUE(r.commitMessage == message)
      << "commit message of " << r.commitMessage.size() << " bytes, expected " << message.size();
  EXPECT_EQ(r.status, kStatusFinished);
  EXPECT_EQ(r.statusMessage, "before");
  EXPECT_EQ(r.statusMarks, "");
}

// Nothing taken, nothing changed; the status reader marks "*" for text that is not an object.
void expectUnusable(const Readings& r, const std::string& statusMark) {
  EXPECT_EQ(r.token, "");
  EXPECT_EQ(r.keptToken, "kept");
  EXPECT_NE(r.tokenReason, "");
  EXPECT_EQ(r.gatewayToken, "");
  EXPECT_EQ(r.projectId, "");
  EXPECT_FALSE(r.committed);
  EXPECT_EQ(r.commitMessage, "before");
  EXPECT_EQ(r.status, kStatusFailed);
  EXPECT_EQ(r.statusMessage, "before");
  EXPECT_EQ(r.statusMarks, statusMark);
}

}  // namespace

TEST(HostileAnswers, TheReferenceAnswerIsUsableEverywhere) {
  expectUsable(readAll(received(allGood())));
  expectUsable(readAll(received(allGood() + " \r\n\t")));  // white space may follow the value
}

TEST(HostileAnswers, EmptyBodyIsUnusableWithoutMark) { expectUnusable(readAll(received("")), ""); }

TEST(HostileAnswers, TextThatIsNotJsonIsUnusable) {
  for (const std::string& text :
       {std::string("<html><body>502 Bad Gateway</body></html>"), std::string("nul"),
        std::string("{"), allGood().substr(0, allGood().size() - 1), std::string("'code'"),
        std::string("{\"code\":\"success\",}")}) {
    SCOPED_TRACE(text);
    expectUnusable(readAll(received(text)), "*");
  }
}

TEST(HostileAnswers, JsonThatIsNotAnObjectIsUnusable) {
  for (const std::string& text : {"[" + allGood() + "]", std::string("[]"), std::string("\"x\""),
                                  std::string("42"), std::string("null"), std::string("true")}) {
    SCOPED_TRACE(text);
    expectUnusable(readAll(received(text)), "*");
  }
}

TEST(HostileAnswers, TrailingGarbageAfterTheValueIsUnusable) {
  for (const char* garbage : {"x", "{}", " {}", ",", "]", "}", "\"", "0"}) {
    SCOPED_TRACE(garbage);
    expectUnusable(readAll(received(allGood() + garbage)), "*");
  }
}

TEST(HostileAnswers, NulBytesEndTheText) {
  // A NUL inside a string cuts the answer there: what is left does not parse.
  std::string cutInString = allGood("ab" + std::string(1, '\0') + "cd");
  expectUnusable(readAll(received(cutInString)), "*");
  expectUnusable(readAll(cutInString), "*");  // the readers cut at a NUL themselves too
  // A NUL between the value and garbage cuts the garbage off: the answer stands.
  std::string cutAfterValue = allGood() + std::string(1, '\0') + "garbage}}";
  expectUsable(readAll(received(cutAfterValue)));
  expectUsable(readAll(cutAfterValue));
  // An escaped NUL is valid JSON; the texts taken out end before it.
  expectUsable(readAll(received(allGood("ab\\u0000cd", "T\\u0000X"))), "ab", "T");
}

TEST(HostileAnswers, InvalidUtf8IsAnEmptyAnswer) {
  for (const char* bad : {"\xC3\x28", "\x80", "\xFF", "\xC0\xAF", "\xED\xA0\x80", "\xF8\x88\x80"}) {
    SCOPED_TRACE(::testing::PrintToString(std::string(bad)));
    expectUnusable(readAll(received(allGood(bad))), "");
  }
  // A multibyte sequence cut off at the very end of the body.
  expectUnusable(readAll(received(allGood() + " \xE4\xB8")), "");
}

// Answers are read from their UTF-8 text, whether or not the local code page can hold it:
// a text without a local form keeps its UTF-8 bytes, one with a local form is converted.
TEST(HostileAnswers, CharactersOutsideTheLocalCodePageAreReadFromUtf8) {
  for (const char* foreign : {"Datei besch\xC3\xA4"
                              "digt",
                              "\xED\x95\x9C", "\xF0\x9F\x98\x80", "\xE4\xB8\xAD\xED\x95\x9C"}) {
    SCOPED_TRACE(::testing::PrintToString(std::string(foreign)));
    expectUsable(readAll(received(allGood(foreign))), foreign);
  }
  expectUsable(readAll(received(allGood("\xE4\xB8\xAD\xE6\x96\x87"))), "\xD6\xD0\xCE\xC4");
  // A byte-order mark (U+FEFF) is skipped where a reader allows one, and is no JSON elsewhere.
  Readings marked = readAll(received("\xEF\xBB\xBF" + allGood()));
  EXPECT_EQ(marked.gatewayToken, "T");
  EXPECT_EQ(marked.projectId, "7");
  EXPECT_EQ(marked.keptToken, "kept");
  EXPECT_FALSE(marked.committed);
  EXPECT_EQ(marked.status, kStatusFailed);
  EXPECT_EQ(marked.statusMarks, "*");
}

TEST(HostileAnswers, TenMiBTextsArriveWhole) {
  // Chinese and ASCII mixed, so that multibyte characters straddle every chunk and
  // conversion-block boundary.
  std::string utf8;
  std::string local;
  while (utf8.size() < 10 * kMiB) {
    utf8 += "\xE4\xB8\xAD\xE6\x96\x87-0123456789abcdef";
    local += "\xD6\xD0\xCE\xC4-0123456789abcdef";
  }
  expectUsable(readAll(received(allGood(utf8, "T"))), local);
  // The same size as a gateway token, and as an error message of the token and status readers.
  std::string bigToken(10 * kMiB, 't');
  EXPECT_TRUE(gatewayTokenOf(received(R"({"access_token":")" + bigToken + "\"}")) == bigToken);
  Readings error = readAll(received(R"({"code":500,"message":")" + utf8 + "\"}"));
  EXPECT_EQ(error.token, "");
  EXPECT_EQ(error.tokenReason,
            "refused (code: 500, message: " + local.substr(0, kLoggedTextBytes) + "...)");
  EXPECT_TRUE(error.statusMessage == local);
  EXPECT_EQ(error.statusMarks, "");
  // Ten MiB of other members before the id.
  EXPECT_EQ(projectIdOf(received(R"({"pad":")" + bigToken + R"(","project":{"id":7}})")), "7");
}

TEST(HostileAnswers, DeepNestingNeitherCrashesNorCounts) {
  const size_t depth = 1000000;
  std::string objects;
  objects.reserve(depth * 5);
  for (size_t i = 0; i < depth; ++i) objects += "{\"a\":";
  for (const std::string& text :
       {std::string(depth, '['), objects, std::string(depth, '[') + std::string(depth, ']')}) {
    expectUnusable(readAll(received(text)), "*");
  }
  // Deep but well-formed nesting beside the members that count leaves the answer usable.
  std::string deep = std::string(depth, '[') + std::string(depth, ']');
  expectUsable(readAll(received("{\"deep\":" + deep + "," + allGood().substr(1))));
}

TEST(HostileAnswers, IntegerCodeIsASignedThirtyTwoBitNumber) {
  for (const char* code : {"2147483647", "-2147483648", "0"}) {
    SCOPED_TRACE(code);
    Readings r = readAll(std::string("{\"code\":") + code + ",\"message\":\"err\"}");
    EXPECT_EQ(r.token, "");  // an error answer
    EXPECT_EQ(r.keptToken, "kept");
    EXPECT_EQ(r.tokenReason, std::string("refused (code: ") + code + ", message: err)");
    EXPECT_FALSE(r.committed);
    EXPECT_EQ(r.commitMessage, "err");
    EXPECT_EQ(r.status, kStatusFailed);
    EXPECT_EQ(r.statusMessage, "err");
    EXPECT_EQ(r.statusMarks, "");
  }
  for (const char* code : {"2147483648", "-2147483649", "9223372036854775807",
                           "18446744073709551616", "1.0", "1e3", "-0.0"}) {
    SCOPED_TRACE(code);
    Readings r = readAll(std::string("{\"code\":") + code + ",\"message\":\"err\"}");
    EXPECT_EQ(r.token, "");  // a code of another type: no token either
    EXPECT_EQ(r.keptToken, "kept");
    EXPECT_FALSE(r.committed);
    EXPECT_EQ(r.commitMessage, "err");
    EXPECT_EQ(r.status, kStatusFailed);
    EXPECT_EQ(r.statusMessage, "err");
    EXPECT_EQ(r.statusMarks, "*");
  }
}

TEST(HostileAnswers, ProjectIdIsAnUnsignedSixtyFourBitNumber) {
  auto idOf = [](const std::string& id) {
    return projectIdOf("{\"project\":{\"id\":" + id + "}}");
  };
  EXPECT_EQ(idOf("18446744073709551615"), "18446744073709551615");
  EXPECT_EQ(idOf("9223372036854775808"), "9223372036854775808");
  EXPECT_EQ(idOf("0"), "0");
  EXPECT_EQ(idOf("18446744073709551616"), "");
  EXPECT_EQ(idOf("99999999999999999999999"), "");
  EXPECT_EQ(idOf("-1"), "");
  EXPECT_EQ(idOf("-9223372036854775808"), "");
}

TEST(HostileAnswers, MessagesEndingInABackslashByteKeepTheAnswerUsable) {
  // U+8AA0 and U+4E57: in the local code page their second byte is a backslash (D5 5C, 81 5C).
  const std::string message = "\"message\":\"\xE8\xAA\xA0\xE4\xB9\x97\"";
  std::string text;
  CoutCapture out;
  EXPECT_TRUE(readCommitAnswer("{\"code\":\"success\"," + message + "}", text));
  EXPECT_EQ(text, "\xD5\x5C\x81\x5C");
  text.clear();
  EXPECT_EQ(
      parseTranslateStatus(
          "{\"code\":\"success\"," + message + ",\"data\":{\"status\":\"processing\"}}", text),
      kStatusProcessing);
  std::string token = "kept";
  int64_t expiry = 0;
  HttpAnswer refusal;
  refusal.body = "{\"code\":401," + message + "}";
  EXPECT_EQ(readTokenAnswer(refusal, token, expiry, text), "");
  EXPECT_EQ(text, "refused (code: 401, message: \xD5\x5C\x81\x5C)");
}
