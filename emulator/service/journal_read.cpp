// Pages of the journal, chosen by a query and written a piece at a time.
#include "service/journal_read.h"

#include <algorithm>

#include "service/emulator_request.h"

namespace {

bool parseCount(const std::string& text, uint64_t& count) {
  int64_t value = 0;
  if (text.empty() || text[0] == '-' || !parseFileId(text, value) || value < 1) return false;
  count = static_cast<uint64_t>(value);
  return true;
}

bool chosen(const JournalRead& read, const JournalEntry& entry) {
  if (!read.method.empty() && entry.method != read.method) return false;
  if (!read.path.empty() && entry.target.substr(0, entry.target.find('?')) != read.path) {
    return false;
  }
  return !read.forFile || (entry.forFile && entry.fileId == read.fileId);
}

void finish(const Journal& journal, JournalRead& read, std::string& out) {
  read.done = true;
  if (!read.paged) {
    out += ']';
    return;
  }
  out += "],\"next\":" + std::to_string(read.next) +
         ",\"dropped\":" + std::to_string(journal.dropped()) + "}";
}

}  // namespace

bool parseJournalQuery(const std::string& query, JournalRead& read, std::string& reason) {
  for (const auto& parameter : parseRawParameters(query)) {
    const std::string& name = parameter.first;
    const std::string& value = parameter.second;
    bool valid = true;
    if (name == "since" || name == "limit") {
      valid = parseCount(value, name == "since" ? read.since : read.limit);
      read.paged = true;
    } else if (name == "method") {
      read.method = value;
    } else if (name == "path") {
      read.path = value;
    } else if (name == "fileId") {
      valid = read.forFile = parseFileId(value, read.fileId);
    } else {
      reason = "unknown parameter \"" + name + "\"";
      return false;
    }
    if (!valid) {
      reason = "\"" + name + "\" must be " + (name == "fileId" ? "a file id" : "1 or more");
      return false;
    }
  }
  return true;
}

bool writeJournalPiece(const Journal& journal, JournalRead& read, std::string& out,
                       size_t pieceBytes) {
  if (read.done) return false;
  const size_t start = out.size();
  if (!read.begun) {
    read.begun = true;
    read.next = read.since;
    read.end = journal.nextNumber();
    out += read.paged ? "{\"entries\":[" : "[";
  }
  while (out.size() - start < pieceBytes) {
    if (read.written == read.limit) {
      finish(journal, read, out);
      return true;
    }
    const JournalEntry* entry = journal.from(read.next);
    if (entry == nullptr || entry->number >= read.end) {
      read.next = std::max(read.next, read.end);
      finish(journal, read, out);
      return true;
    }
    read.next = entry->number + 1;
    if (!chosen(read, *entry)) continue;
    if (read.written++ > 0) out += ',';
    appendJson(*entry, out);
  }
  return true;
}
