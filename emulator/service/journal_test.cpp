// The journal's entries as a test reads them back: what a request's entry keeps of it.
#include "service/journal.h"

#include <gtest/gtest.h>

#include "util/json.h"

namespace {

// The journal of `requests`, each answered 200 with `answer`, read back as JSON, which must
// be valid UTF-8.
rapidjson::Document journalOf(const std::vector<RecordedRequest>& requests,
                              const std::string& answer = "") {
  Journal journal(100);
  for (const RecordedRequest& request : requests) {
    journal.add(
        journalEntry(request, Arrival(), 0, Answered({200, answer}, ""), true, SecretMask({})));
  }
  rapidjson::Document doc;
  doc.Parse<rapidjson::kParseValidateEncodingFlag>(journal.toJson().c_str());
  EXPECT_FALSE(doc.HasParseError());
  return doc;
}

RecordedRequest put(const std::string& body) {
  RecordedRequest request;
  request.method = "PUT";
  request.target = "/v2/translate";
  request.body = body;
  return request;
}

TEST(Journal, KeepsTheFirst64KiBOfABodyAndTheWholeBodysSize) {
  rapidjson::Document doc = journalOf({put(std::string(kJournalBodyBytes, 'a') + "bcd")});
  ASSERT_TRUE(doc.IsArray() && doc.Size() == 1u);
  EXPECT_EQ(doc[0]["bodySize"].GetUint64(), kJournalBodyBytes + 3);
  EXPECT_EQ(std::string(doc[0]["body"].GetString()), std::string(kJournalBodyBytes, 'a'));
}

// A body cut inside a character loses the character; one that is no UTF-8, and an answer
// that is none, come in Base64; a header that is none shows U+FFFD.
TEST(Journal, IsValidUtf8WhateverCame) {
  const std::string euro = "\xE2\x82\xAC";
  RecordedRequest odd = put("\xFF\xFE");
  odd.headers = {"X-Odd: a\xFF"};
  rapidjson::Document doc =
      journalOf({put(std::string(kJournalBodyBytes - 1, 'a') + euro), odd}, "\xC0");
  ASSERT_TRUE(doc.IsArray() && doc.Size() == 2u);
  EXPECT_EQ(std::string(doc[0]["body"].GetString()), std::string(kJournalBodyBytes - 1, 'a'));
  EXPECT_EQ(doc[0]["bodySize"].GetUint64(), kJournalBodyBytes + 2);
  EXPECT_FALSE(doc[1].HasMember("body"));
  EXPECT_STREQ(doc[1]["bodyBase64"].GetString(), "//4=");
  EXPECT_STREQ(doc[1]["answerBodyBase64"].GetString(), "wA==");
  EXPECT_STREQ(doc[1]["headers"][0][1].GetString(), "a\xEF\xBF\xBD");
}

}  // namespace
