// Strict JSON parsing of received and configured texts.
#include "transport/json_parse.h"

#include <cstring>

namespace {

bool parseFrom(const char* text, rapidjson::Document& doc) {
  doc.Parse<rapidjson::kParseIterativeFlag>(text);
  return !doc.HasParseError();
}

}  // namespace

bool parseJson(const std::string& text, rapidjson::Document& doc) {
  return parseFrom(text.c_str(), doc);
}

bool parseJsonSkippingBom(const std::string& text, rapidjson::Document& doc) {
  const char* p = text.c_str();
  if (static_cast<unsigned char>(*p) == 0xEF) ++p;
  if (static_cast<unsigned char>(*p) == 0xBB) ++p;
  if (static_cast<unsigned char>(*p) == 0xBF) ++p;
  return parseFrom(p, doc);
}

const rapidjson::Value* findMember(const rapidjson::Value& object, const char* name) {
  if (!object.IsObject()) return nullptr;
  rapidjson::Value::ConstMemberIterator it = object.FindMember(name);
  return it == object.MemberEnd() ? nullptr : &it->value;
}

bool getStringMember(const rapidjson::Value& object, const char* name, std::string& out) {
  const rapidjson::Value* value = findMember(object, name);
  if (value == nullptr || !value->IsString()) return false;
  out.assign(value->GetString(), strnlen(value->GetString(), value->GetStringLength()));
  return true;
}
