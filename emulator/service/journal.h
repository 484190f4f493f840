// The request journal: what the service and gateway endpoints received and what they
// answered, oldest first, with secrets masked, for a test to read back as JSON.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "server/recorded_request.h"
#include "service/answered.h"
#include "service/secret_mask.h"

// How much of a request body an entry keeps: the journal holds many entries.
const size_t kJournalBodyBytes = 64 * 1024;

struct JournalEntry {
  int64_t time = 0;  // milliseconds since 1970
  std::string method;
  std::string target;
  std::vector<std::pair<std::string, std::string>> headers;  // in arrival order
  std::string body;                                          // its first kJournalBodyBytes bytes
  size_t bodySize = 0;                                       // the whole body's
  int64_t connection = 0;  // the connection's number, as the log names it
  int status = 0;          // the HTTP status sent; 0 when no answer was (dropped, or garbage sent)
  std::string answerBody;  // its first kJournalBodyBytes bytes, issued tokens masked
  size_t answerBodySize = 0;  // the whole answer body's
  std::string note;
};

// The entry of `request`, which came at `now` (milliseconds) as `arrival` says and was
// `answered`; with `delivered` false no answer went out (a drop, garbage). What `mask` hides
// is masked in every part, and so is the token the answer hands out.
JournalEntry journalEntry(const RecordedRequest& request, const Arrival& arrival, int64_t now,
                          const Answered& answered, bool delivered, const SecretMask& mask);

// Not thread-safe: the service keeps it under its lock.
class Journal {
 public:
  // Keeps the last `capacity` entries; 0 keeps none.
  explicit Journal(size_t capacity) : capacity_(capacity) {}

  void add(JournalEntry entry);
  void clear() { entries_.clear(); }
  size_t size() const { return entries_.size(); }

  // The entries as a JSON array of objects with the members "time", "connection", "method",
  // "target", "headers" (an array of [name, value]), "body", "bodySize", "answer" (a number,
  // or "dropped"), "answerBody", "answerBodySize" and "note".
  std::string toJson() const;

 private:
  size_t capacity_;
  std::deque<JournalEntry> entries_;
};
