// Keeping and writing out the request journal.
#include "service/journal.h"

#include "service/emulator_request.h"
#include "service/utf8_text.h"
#include "util/json.h"

namespace {

// `text` as a JSON string, what is no UTF-8 character in it shown as U+FFFD.
void putString(JsonWriter& json, const std::string& text) {
  if (!isUtf8(text)) return putString(json, validUtf8(text));
  json.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
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

// A body as the member `name` when it is UTF-8, else as `name`Base64.
void putBody(JsonWriter& json, const std::string& name, const std::string& body) {
  if (isUtf8(body)) return putMember(json, name.c_str(), body);
  putMember(json, (name + "Base64").c_str(), encodeBase64(body));
}

}  // namespace

JournalEntry journalEntry(const RecordedRequest& request, const Arrival& arrival, int64_t now,
                          const Answered& answered, bool delivered, const SecretMask& mask) {
  JournalEntry entry;
  entry.time = now;
  entry.connection = static_cast<int64_t>(arrival.connection);
  entry.method = request.method;
  entry.target = mask.target(request.target);
  for (const std::string& line : request.headers) entry.headers.push_back(maskedHeader(line, mask));
  entry.bodySize = request.body.size();
  entry.body = keptBody(request.body, mask, &SecretMask::body);
  entry.note = mask.text(answered.note);
  if (delivered) {
    entry.status = answered.response.status;
    entry.answerBodySize = answered.response.body.size();
    entry.answerBody = SecretMask({answered.issuedToken})
                           .text(keptBody(answered.response.body, mask, &SecretMask::text));
  }
  return entry;
}

void Journal::add(JournalEntry entry) {
  if (capacity_ == 0) return;
  if (entries_.size() == capacity_) entries_.pop_front();
  entries_.push_back(std::move(entry));
}

std::string Journal::toJson() const {
  rapidjson::StringBuffer buffer;
  JsonWriter json(buffer);
  json.StartArray();
  for (const JournalEntry& entry : entries_) {
    json.StartObject();
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
  }
  json.EndArray();
  return writtenText(buffer);
}
