// Received JSON: parsed from its UTF-8 text, strings handed out in the local code page.
#include "transport/local_json.h"

#include <rapidjson/reader.h>

#include <cstring>
#include <utility>

#include "transport/text_encoding.h"
#include "util/json.h"
#include "util/masking.h"

namespace {

// Hands the reader's events on to a document, refusing the value past kMaxReceivedValues.
class BoundedHandler {
 public:
  explicit BoundedHandler(rapidjson::Document& doc) : doc_(doc) {}

  bool Null() { return take() && doc_.Null(); }
  bool Bool(bool b) { return take() && doc_.Bool(b); }
  bool Int(int i) { return take() && doc_.Int(i); }
  bool Uint(unsigned i) { return take() && doc_.Uint(i); }
  bool Int64(int64_t i) { return take() && doc_.Int64(i); }
  bool Uint64(uint64_t i) { return take() && doc_.Uint64(i); }
  bool Double(double d) { return take() && doc_.Double(d); }
  bool RawNumber(const char* text, rapidjson::SizeType length, bool copy) {
    return take() && doc_.RawNumber(text, length, copy);
  }
  bool String(const char* text, rapidjson::SizeType length, bool copy) {
    return take() && doc_.String(text, length, copy);
  }
  bool Key(const char* text, rapidjson::SizeType length, bool copy) {
    return take() && doc_.Key(text, length, copy);
  }
  bool StartObject() { return take() && doc_.StartObject(); }
  bool EndObject(rapidjson::SizeType members) { return doc_.EndObject(members); }
  bool StartArray() { return take() && doc_.StartArray(); }
  bool EndArray(rapidjson::SizeType elements) { return doc_.EndArray(elements); }

 private:
  bool take() { return ++values_ <= kMaxReceivedValues; }

  rapidjson::Document& doc_;
  size_t values_ = 0;
};

}  // namespace

bool LocalJson::parse(std::string utf8Text, bool skipBom) {
  buffer_ = std::move(utf8Text);
  buffer_.resize(strlen(buffer_.c_str()));
  if (skipBom) {
    buffer_.erase(0, static_cast<size_t>(afterByteOrderMark(buffer_.c_str()) - buffer_.c_str()));
  }
  doc_.SetNull();
  // Checked here rather than by the parser, whose check reads past the end of a text that
  // ends within a character.
  if (!isUtf8(buffer_.data(), buffer_.data() + buffer_.size())) return false;
  rapidjson::InsituStringStream stream(&buffer_[0]);
  bool parsed = false;
  auto generate = [&stream, &parsed](rapidjson::Document& doc) {
    BoundedHandler handler(doc);
    rapidjson::Reader reader;
    const unsigned flags = rapidjson::kParseInsituFlag | rapidjson::kParseIterativeFlag;
    parsed = !reader.Parse<flags>(stream, handler).IsError();
    return parsed;
  };
  doc_.Populate(generate);
  return parsed;
}

bool LocalJson::takeLocalStringMember(const char* name, std::string& out) {
  const rapidjson::Value* value = findMember(doc_, name);
  if (value == nullptr || !value->IsString()) return false;
  const char* text = value->GetString();
  const size_t length = value->GetStringLength();
  const bool inBuffer = text >= buffer_.data() && text <= buffer_.data() + buffer_.size();
  if (!inBuffer || !isAsciiWithoutNul(text, text + length)) {
    return getLocalStringMember(doc_, name, out);
  }
  // Parsed in place, the value lies decoded inside the buffer: keep the buffer, cut to it.
  const size_t offset = static_cast<size_t>(text - buffer_.data());
  out = std::move(buffer_);
  out.resize(offset + length);
  out.erase(0, offset);
  buffer_.clear();
  return true;
}

bool getLocalStringMember(const rapidjson::Value& object, const char* name, std::string& out) {
  const rapidjson::Value* value = findMember(object, name);
  if (value == nullptr || !value->IsString()) return false;
  const char* text = value->GetString();
  const char* end = text + strnlen(text, value->GetStringLength());
  std::string local = isAscii(text, end) ? std::string() : utf8ToLocal(text, end);
  // Plain ASCII needs no conversion; an escaped character the local code page lacks leaves the
  // text as it was decoded.
  if (local.empty()) {
    out.assign(text, end);
  } else {
    out = std::move(local);
  }
  return true;
}

bool getHeaderSafeStringMember(const rapidjson::Value& object, const char* name, std::string& out) {
  std::string text;
  if (!getLocalStringMember(object, name, text) ||
      text.find_first_of("\r\n") != std::string::npos) {
    return false;
  }
  out = std::move(text);
  return true;
}

std::string loggableMembers(const rapidjson::Value& object,
                            std::initializer_list<const char*> names) {
  std::string notes;
  for (const char* name : names) {
    const rapidjson::Value* value = findMember(object, name);
    std::string text;
    if (value != nullptr && value->IsInt64()) {
      text = std::to_string(value->GetInt64());
    } else if (value != nullptr && value->IsUint64()) {
      text = std::to_string(value->GetUint64());
    } else if (!getLocalStringMember(object, name, text)) {
      continue;
    }
    notes += (notes.empty() ? "" : ", ") + std::string(name) + ": " +
             loggableText(text, kLoggedTextBytes);
  }
  return notes;
}
