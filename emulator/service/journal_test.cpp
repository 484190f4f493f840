// The journal's entries as a test reads them back: what a request's entry keeps of it.
#include "service/journal.h"

#include <gtest/gtest.h>

#include "service/journal_read.h"

#include "util/json.h"

namespace {

// The whole text of a read of `journal` as `query` asks, in pieces of about `pieceBytes`, each
// checked against that bound.
std::string readAll(const Journal& journal, const std::string& query = "",
                    size_t pieceBytes = kJournalPieceBytes) {
  JournalRead read;
  std::string reason;
  EXPECT_TRUE(parseJournalQuery(query, read, reason)) << reason;
  std::string text;
  std::string piece;
  while (writeJournalPiece(journal, read, piece, pieceBytes)) {
    EXPECT_LT(piece.size(), pieceBytes + 2 * kJournalBodyBytes);
    text += piece;
    piece.clear();
  }
  return text;
}

// The journal of `requests`, each answered 200 with `answer`, read back as JSON, which must
// be valid UTF-8.
rapidjson::Document journalOf(const std::vector<RecordedRequest>& requests,
                              const std::string& answer = "") {
  Journal journal(100, 1 << 24);
  for (const RecordedRequest& request : requests) {
    journal.add(journalEntry(request, Arrival(), 0, RequestFile(), Answered({200, answer}, ""),
                             SecretMask({})));
  }
  rapidjson::Document doc;
  doc.Parse<rapidjson::kParseValidateEncodingFlag>(readAll(journal).c_str());
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

// The newest entries are kept within the byte bound, and the dropped ones counted; an entry
// larger than the bound alone is dropped itself.
TEST(Journal, KeepsTheNewestWithinItsBytes) {
  Journal journal(100, 5 * 1024 + 5 * footprint(JournalEntry()));
  JournalEntry entry;
  entry.body = std::string(1024, 'x');
  for (int i = 0; i < 8; ++i) journal.add(entry);
  EXPECT_LE(journal.bytes(), 5 * 1024 + 5 * footprint(JournalEntry()));
  EXPECT_EQ(journal.size() + journal.dropped(), 8u);
  EXPECT_GE(journal.size(), 4u);
  EXPECT_EQ(journal.from(1)->number, 9 - journal.size());
  entry.body = std::string(8 * 1024, 'x');
  journal.add(entry);
  EXPECT_EQ(journal.dropped(), 9u);
  EXPECT_EQ(journal.size(), 0u);
  EXPECT_EQ(journal.nextNumber(), 10u);
  journal.clear();
  EXPECT_EQ(journal.dropped(), 0u);
}

// Pages and filters, read in small pieces: the same entries as one read, valid JSON, and
// a "next" that reads on.
TEST(Journal, ReadsPagesChosenByTheQuery) {
  Journal journal(100, 1 << 20);
  for (int i = 1; i <= 9; ++i) {
    RecordedRequest request = put(std::string(300, 'a'));
    if (i % 3 == 0) request.method = "GET";
    if (i % 3 == 0) request.target = "/translate?fileId=" + std::to_string(i);
    journal.add(journalEntry(request, Arrival(), i, RequestFile{i % 3 == 0, i}, Answered(),
                             SecretMask({})));
  }
  EXPECT_EQ(readAll(journal, "", 200), readAll(journal));
  rapidjson::Document doc;
  ASSERT_FALSE(doc.Parse(readAll(journal, "", 200).c_str()).HasParseError());
  EXPECT_EQ(doc.Size(), 9u);

  ASSERT_FALSE(
      doc.Parse(readAll(journal, "since=2&limit=3&method=PUT", 10).c_str()).HasParseError());
  ASSERT_EQ(doc["entries"].Size(), 3u);
  EXPECT_EQ(doc["entries"][0]["number"].GetUint64(), 2u);
  EXPECT_EQ(doc["entries"][2]["number"].GetUint64(), 5u);
  EXPECT_EQ(doc["next"].GetUint64(), 6u);
  EXPECT_EQ(doc["dropped"].GetUint64(), 0u);
  ASSERT_FALSE(doc.Parse(readAll(journal, "since=6&path=/translate").c_str()).HasParseError());
  ASSERT_EQ(doc["entries"].Size(), 2u);
  EXPECT_EQ(doc["next"].GetUint64(), 10u);
  ASSERT_FALSE(doc.Parse(readAll(journal, "fileId=6").c_str()).HasParseError());
  ASSERT_EQ(doc.Size(), 1u);
  EXPECT_EQ(doc[0]["time"].GetInt64(), 6);

  JournalRead read;
  std::string reason;
  EXPECT_FALSE(parseJournalQuery("limit=0", read, reason));
  EXPECT_EQ(reason, "\"limit\" must be 1 or more");
  EXPECT_FALSE(parseJournalQuery("file=3", read, reason));
  EXPECT_EQ(reason, "unknown parameter \"file\"");
}

}  // namespace
