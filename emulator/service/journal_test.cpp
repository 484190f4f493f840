// The journal's entries as a test reads them back: what a request's entry keeps of it.
#include "service/journal.h"

#include <gtest/gtest.h>

#include "util/json.h"

namespace {

// The journal of `requests`, each answered 200 with an empty body, read back as JSON.
rapidjson::Document journalOf(const std::vector<RecordedRequest>& requests) {
  Journal journal(100);
  for (const RecordedRequest& request : requests) {
    journal.add(journalEntry(request, Arrival(), 0, Answered({200, ""}, ""), true, SecretMask({})));
  }
  rapidjson::Document doc;
  EXPECT_TRUE(parseJson(journal.toJson(), doc));
  return doc;
}

TEST(Journal, KeepsTheFirst64KiBOfABodyAndTheWholeBodysSize) {
  RecordedRequest request;
  request.method = "PUT";
  request.target = "/v2/translate";
  request.body = std::string(kJournalBodyBytes, 'a') + "bcd";
  rapidjson::Document doc = journalOf({request});
  ASSERT_TRUE(doc.IsArray() && doc.Size() == 1u);
  EXPECT_EQ(doc[0]["bodySize"].GetUint64(), kJournalBodyBytes + 3);
  EXPECT_EQ(std::string(doc[0]["body"].GetString()), std::string(kJournalBodyBytes, 'a'));
}

}  // namespace
