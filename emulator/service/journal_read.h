// Reading the journal as GET /__emulator/requests asks: the whole of it, or the entries that a
// query chooses, written a piece at a time so that a large journal is never built whole in
// memory and other connections go on while it is sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "service/journal.h"

// About how much JSON one piece of a read holds (a piece ends after the entry that passes it).
const size_t kJournalPieceBytes = 64 * 1024;

struct JournalRead {
  // What the query chose.
  bool paged = false;  // "since" or "limit" was given: the object form
  uint64_t since = 1;  // entries numbered this or more
  uint64_t limit = std::numeric_limits<uint64_t>::max();
  std::string method;  // empty: any
  std::string path;    // the target up to its "?"; empty: any
  bool forFile = false;
  int64_t fileId = 0;

  // How far it has come.
  bool begun = false;
  bool done = false;
  uint64_t next = 0;  // the number of the next entry to look at
  uint64_t end = 0;   // entries numbered below it only: those kept when the read began
  uint64_t written = 0;
};

// Reads the raw query of GET /__emulator/requests into `read`: "since" and "limit" (1 or more,
// decimal), "method" and "path" (compared as sent), "fileId" (a file id). False with the reason
// on any other parameter or a value out of range.
bool parseJournalQuery(const std::string& query, JournalRead& read, std::string& reason);

// Appends the next piece of the read's JSON to `out`: an array of entries, or with `paged` the
// object {"entries":[...],"next":N,"dropped":D}, where "next" is the "since" that reads on after
// this page. False, appending nothing, once the read was written whole.
bool writeJournalPiece(const Journal& journal, JournalRead& read, std::string& out,
                       size_t pieceBytes = kJournalPieceBytes);
