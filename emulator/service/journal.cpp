// Keeping and writing out the request journal.
#include "service/journal.h"

#include "util/json.h"

namespace {

void putString(JsonWriter& json, const std::string& text) {
  json.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
}

void putMember(JsonWriter& json, const char* name, const std::string& text) {
  json.Key(name);
  putString(json, text);
}

}  // namespace

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
    putMember(json, "body", entry.body);
    json.Key("bodySize");
    json.Uint64(entry.bodySize);
    json.Key("answer");
    if (entry.status != 0) {
      json.Int(entry.status);
    } else {
      putString(json, "dropped");
    }
    putMember(json, "answerBody", entry.answerBody);
    json.Key("answerBodySize");
    json.Uint64(entry.answerBodySize);
    putMember(json, "note", entry.note);
    json.EndObject();
  }
  json.EndArray();
  return writtenText(buffer);
}
