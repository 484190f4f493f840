// Keeping and writing out the request journal.
#include "service/journal.h"

#include "util/ascii.h"
#include "util/json.h"
#include "util/masking.h"

namespace {

const char kMasked[] = "***";

void replaceAll(std::string& text, const std::string& secret) {
  if (secret.empty()) return;
  for (size_t at = text.find(secret); at != std::string::npos;
       at = text.find(secret, at + sizeof kMasked - 1)) {
    text.replace(at, secret.size(), kMasked);
  }
}

// The value of a form field `name` in `body` masked, up to the next "&".
void maskFormField(std::string& body, const std::string& name) {
  for (size_t at = body.find(name + "="); at != std::string::npos; at = body.find(name + "=", at)) {
    if (at == 0 || body[at - 1] == '&') {
      const size_t start = at + name.size() + 1;
      const size_t end = body.find('&', start);
      body.replace(start, end == std::string::npos ? std::string::npos : end - start, kMasked);
    }
    at += name.size() + 1;
  }
}

// A header line split into its name and its value without the blanks around it, masked.
std::pair<std::string, std::string> maskedHeader(const std::string& line,
                                                 const std::vector<std::string>& secrets) {
  const size_t colon = line.find(':');
  std::string name = line.substr(0, colon);
  std::string value = colon == std::string::npos ? std::string() : line.substr(colon + 1);
  value.erase(0, value.find_first_not_of(" \t"));
  value.erase(value.find_last_not_of(" \t") + 1);
  for (const std::string& secret : secrets) replaceAll(value, secret);
  if (equalsIgnoreCase(name, "Authorization") || equalsIgnoreCase(name, "Proxy-Authorization")) {
    const size_t blank = value.find(' ');
    value = blank == std::string::npos ? kMasked : value.substr(0, blank) + " " + kMasked;
  } else if (equalsIgnoreCase(name, "x-ca-signature")) {
    value = kMasked;
  }
  return {std::move(name), std::move(value)};
}

void putString(JsonWriter& json, const std::string& text) {
  json.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
}

void putMember(JsonWriter& json, const char* name, const std::string& text) {
  json.Key(name);
  putString(json, text);
}

}  // namespace

JournalEntry journalEntry(const RecordedRequest& request, const Arrival& arrival, int64_t now,
                          const Answered& answered, bool delivered,
                          const std::vector<std::string>& secrets) {
  JournalEntry entry;
  entry.time = now;
  entry.connection = static_cast<int64_t>(arrival.connection);
  entry.method = request.method;
  entry.target = maskCredentials(request.target);
  for (const std::string& line : request.headers) {
    entry.headers.push_back(maskedHeader(line, secrets));
  }
  entry.bodySize = request.body.size();
  entry.body = request.body.substr(0, kJournalBodyBytes);
  for (const std::string& secret : secrets) replaceAll(entry.body, secret);
  maskFormField(entry.body, "client_secret");
  entry.note = answered.note;
  if (delivered) {
    entry.status = answered.response.status;
    entry.answerBodySize = answered.response.body.size();
    entry.answerBody = answered.response.body.substr(0, kJournalBodyBytes);
    replaceAll(entry.answerBody, answered.issuedToken);
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
