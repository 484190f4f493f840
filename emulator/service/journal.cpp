// Keeping and writing out the request journal.
#include "service/journal.h"

#include <algorithm>

#include "service/emulator_request.h"
#include "service/utf8_text.h"
#include "util/json.h"

namespace {

// `text`, which is UTF-8, as a JSON string.
void putUtf8(JsonWriter& json, const std::string& text) {
  json.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
}

// `text` as a JSON string, what is no UTF-8 character in it shown as U+FFFD.
void putString(JsonWriter& json, const std::string& text) {
  if (isUtf8(text)) return putUtf8(json, text);
  putUtf8(json, validUtf8(text));
}

void putMember(JsonWriter& json, const char* name, const std::string& text) {
  json.Key(name);
  putString(json, text);
}

// A header line split into its name and its value without the blanks around it, masked.
std::pair<std::string, std::string> maskedHeader(const std::string& line, const SecretMask& mask) {
  const size_t colon = line.find(':');
  std::string name = line.substr(0, colon);
  std::string value = colon == std::string::npos ? std::string() : line.substr(colon + 1);
  value.erase(0, value.find_first_not_of(" \t"));
  value.erase(value.find_last_not_of(" \t") + 1);
  value = mask.headerValue(name, std::move(value));
  return {std::move(name), std::move(value)};
}

// The first kJournalBodyBytes of `body` masked, cut between two characters: a secret across
// the cut is masked whole.
std::string keptBody(const std::string& body, const SecretMask& mask,
                     std::string (SecretMask::*masking)(std::string) const) {
  std::string kept = (mask.*masking)(body.substr(0, kJournalBodyBytes + kJournalBodyBytes / 4));
  kept.resize(characterBoundary(kept, kJournalBodyBytes));
  return kept;
}

// A body as the member `name` when it is UTF-8, else as `name`Base64, whose text is ASCII.
void putBody(JsonWriter& json, const std::string& name, const std::string& body) {
  if (isUtf8(body)) {
    json.Key(name.c_str());
    return putUtf8(json, body);
  }
  json.Key((name + "Base64").c_str());
  putUtf8(json, encodeBase64(body));
}

}  // namespace

JournalEntry journalEntry(const RecordedRequest& request, const Arrival& arrival, int64_t now,
                          const RequestFile& file, const Answered& answered,
                          const SecretMask& mask) {
  JournalEntry entry;
  entry.time = now;
  entry.connection = static_cast<int64_t>(arrival.connection);
  entry.method = request.method;
  entry.target = mask.target(request.target);
  for (const std::string& line : request.headers) entry.headers.push_back(maskedHeader(line, mask));
  entry.bodySize = request.body.size();
  entry.forFile = file.known;
  entry.fileId = file.id;
  entry.body = keptBody(request.body, mask, &SecretMask::body);
  entry.note = mask.text(answered.note);
  if (answered.sendsAnswer()) {
    entry.status = answered.response.status;
    entry.answerBodySize = answered.response.body.size();
    entry.answerBody = SecretMask({answered.issuedToken})
                           .text(keptBody(answered.response.body, mask, &SecretMask::text));
  }
  return entry;
}

size_t footprint(const JournalEntry& entry) {
  // What an allocator keeps beside each string's characters, and the deque's share.
  const size_t kPerString = 32;
  size_t bytes = sizeof(JournalEntry) + 5 * kPerString + entry.method.size() + entry.target.size() +
                 entry.body.size() + entry.answerBody.size() + entry.note.size();
  for (const auto& header : entry.headers) {
    bytes += sizeof(header) + 2 * kPerString + header.first.size() + header.second.size();
  }
  return bytes;
}

void appendJson(const JournalEntry& entry, std::string& out) {
  rapidjson::StringBuffer buffer;
  JsonWriter json(buffer);
  json.StartObject();
  json.Key("number");
  json.Uint64(entry.number);
  json.Key("time");
  json.Int64(entry.time);
  json.Key("connection");
  json.Int64(entry.connection);
  putMember(json, "method", entry.method);
  putMember(json, "target", entry.target);
  json.Key("headers");
  json.StartArray();
  for (const auto& header : entry.headers) {
    json.StartArray();
    putString(json, header.first);
    putString(json, header.second);
    json.EndArray();
  }
  json.EndArray();
  putBody(json, "body", entry.body);
  json.Key("bodySize");
  json.Uint64(entry.bodySize);
  json.Key("answer");
  if (entry.status != 0) {
    json.Int(entry.status);
  } else {
    putString(json, "dropped");
  }
  putBody(json, "answerBody", entry.answerBody);
  json.Key("answerBodySize");
  json.Uint64(entry.answerBodySize);
  putMember(json, "note", entry.note);
  json.EndObject();
  out.append(buffer.GetString(), buffer.GetSize());
}

void Journal::add(JournalEntry entry) {
  entry.number = nextNumber_++;
  if (capacity_ == 0) return;
  const size_t size = footprint(entry);
  while (!entries_.empty() && (entries_.size() >= capacity_ || bytes_ + size > maxBytes_)) {
    bytes_ -= footprint(entries_.front());
    entries_.pop_front();
    ++dropped_;
  }
  if (size > maxBytes_) {
    ++dropped_;
    return;
  }
  bytes_ += size;
  entries_.push_back(std::move(entry));
}

void Journal::clear() {
  entries_.clear();
  bytes_ = 0;
  dropped_ = 0;
}

const JournalEntry* Journal::from(uint64_t number) const {
  auto found = std::lower_bound(
      entries_.begin(), entries_.end(), number,
      [](const JournalEntry& entry, uint64_t wanted) { return entry.number < wanted; });
  return found == entries_.end() ? nullptr : &*found;
}
