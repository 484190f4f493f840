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
#include "service/routes.h"
#include "service/secret_mask.h"

// How much of a request body an entry keeps: the journal holds many entries.
const size_t kJournalBodyBytes = 64 * 1024;

struct JournalEntry {
  uint64_t number = 0;  // in arrival order from 1, given by the journal; never used twice
  int64_t time = 0;     // milliseconds since 1970
  std::string method;
  std::string target;
  std::vector<std::pair<std::string, std::string>> headers;  // in arrival order
  std::string body;                                          // its first kJournalBodyBytes bytes
  size_t bodySize = 0;                                       // the whole body's
  bool forFile = false;  // a translate or status request naming `fileId`
  int64_t fileId = 0;
  int64_t connection = 0;  // the connection's number, as the log names it
  int status = 0;          // the HTTP status sent; 0 when no answer was (dropped, or garbage sent)
  std::string answerBody;  // its first kJournalBodyBytes bytes, issued tokens masked
  size_t answerBodySize = 0;  // the whole answer body's
  std::string note;
};

// The entry of `request` about `file`, which came at `now` (milliseconds) as `arrival` says
// and was `answered`. What `mask` hides is masked in every part, and so is the token the answer
// hands out.
JournalEntry journalEntry(const RecordedRequest& request, const Arrival& arrival, int64_t now,
                          const RequestFile& file, const Answered& answered,
                          const SecretMask& mask);

// The memory `entry` takes, its strings and their bookkeeping included.
size_t footprint(const JournalEntry& entry);

// `entry` as a JSON object with the members "number", "time", "connection", "method",
// "target", "headers" (an array of [name, value]), "body" or "bodyBase64", "bodySize",
// "answer" (a number, or "dropped"), "answerBody" or "answerBodyBase64", "answerBodySize" and
// "note", appended to `out`: always valid UTF-8.
void appendJson(const JournalEntry& entry, std::string& out);

// Keeps the entries, oldest first, within a count and a byte bound; the oldest go first, and
// are counted. Not thread-safe: the service keeps it under its lock.
class Journal {
 public:
  // Keeps at most `capacity` entries of at most `maxBytes` together, as footprint() counts;
  // a capacity of 0 keeps none and counts none dropped.
  Journal(size_t capacity, size_t maxBytes) : capacity_(capacity), maxBytes_(maxBytes) {}

  // Numbers `entry` and keeps it, dropping the oldest as the bounds require; an entry larger
  // than the byte bound alone is dropped itself.
  void add(JournalEntry entry);
  // Forgets every entry, and the count of those dropped; the numbers go on.
  void clear();

  size_t size() const { return entries_.size(); }
  size_t bytes() const { return bytes_; }
  // Entries the bounds dropped since the journal was last cleared.
  uint64_t dropped() const { return dropped_; }
  // The number the next entry gets.
  uint64_t nextNumber() const { return nextNumber_; }
  // The oldest entry kept whose number is `number` or more; nullptr when there is none.
  const JournalEntry* from(uint64_t number) const;

 private:
  const size_t capacity_;
  const size_t maxBytes_;
  std::deque<JournalEntry> entries_;
  size_t bytes_ = 0;
  uint64_t dropped_ = 0;
  uint64_t nextNumber_ = 1;
};
