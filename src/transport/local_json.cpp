// Received JSON in the local code page.
#include "transport/local_json.h"

#include <cstring>
#include <utility>

#include "transport/text_encoding.h"
#include "util/json.h"

bool LocalJson::parse(std::string localText, bool skipBom) {
  // Plain ASCII without NUL holds no byte-order mark either and is read as it is.
  if (isAsciiWithoutNul(localText.data(), localText.data() + localText.size())) {
    buffer_ = std::move(localText);
  } else {
    localText.resize(strlen(localText.c_str()));
    if (skipBom) {
      localText.erase(
          0, static_cast<size_t>(afterByteOrderMark(localText.c_str()) - localText.c_str()));
    }
    const bool empty = localText.empty();
    buffer_ = localToUtf8(std::move(localText));
    if (buffer_.empty() && !empty) return false;
  }
  doc_.ParseInsitu<rapidjson::kParseIterativeFlag>(&buffer_[0]);
  return !doc_.HasParseError();
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
  std::string utf8;
  if (!getStringMember(object, name, utf8)) return false;
  // Plain ASCII is moved, not copied: a message can be tens of megabytes.
  if (isAscii(utf8.data(), utf8.data() + utf8.size())) {
    out = std::move(utf8);
    return true;
  }
  // An escaped character the local code page lacks leaves the text as it was decoded.
  std::string local = utf8ToLocal(utf8);
  out = std::move(local.empty() ? utf8 : local);
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
