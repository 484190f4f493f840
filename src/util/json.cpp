// JSON read and written with RapidJSON.
#include "util/json.h"

#include <cstring>
#include <vector>

namespace {

bool parseFrom(const char* text, rapidjson::Document& doc) {
  doc.Parse<rapidjson::kParseIterativeFlag>(text);
  return !doc.HasParseError();
}

void writeScalar(const rapidjson::Value& value, JsonWriter& writer) {
  if (value.IsNull()) {
    writer.Null();
  } else if (value.IsBool()) {
    writer.Bool(value.GetBool());
  } else if (value.IsString()) {
    writer.String(value.GetString(), value.GetStringLength());
  } else if (value.IsDouble()) {
    writer.Double(value.GetDouble());
  } else if (value.IsInt()) {
    writer.Int(value.GetInt());
  } else if (value.IsUint()) {
    writer.Uint(value.GetUint());
  } else if (value.IsInt64()) {
    writer.Int64(value.GetInt64());
  } else {
    writer.Uint64(value.GetUint64());
  }
}

}  // namespace

bool parseJson(const std::string& text, rapidjson::Document& doc) {
  return parseFrom(text.c_str(), doc);
}

bool parseJsonSkippingBom(const std::string& text, rapidjson::Document& doc) {
  return parseFrom(afterByteOrderMark(text.c_str()), doc);
}

const char* afterByteOrderMark(const char* text) {
  if (static_cast<unsigned char>(*text) == 0xEF) ++text;
  if (static_cast<unsigned char>(*text) == 0xBB) ++text;
  if (static_cast<unsigned char>(*text) == 0xBF) ++text;
  return text;
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

std::string writtenText(const rapidjson::StringBuffer& buffer) {
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::string writeCompactJson(const rapidjson::Value& root) {
  struct Frame {
    const rapidjson::Value* container;
    rapidjson::SizeType index;
  };
  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  std::vector<Frame> open;
  const rapidjson::Value* next = &root;
  for (;;) {
    if (next != nullptr) {
      if (next->IsObject()) {
        writer.StartObject();
        open.push_back({next, 0});
      } else if (next->IsArray()) {
        writer.StartArray();
        open.push_back({next, 0});
      } else {
        writeScalar(*next, writer);
      }
      next = nullptr;
    }
    if (open.empty()) break;
    Frame& top = open.back();
    if (top.container->IsObject()) {
      if (top.index < top.container->MemberCount()) {
        const auto& member = *(top.container->MemberBegin() + top.index++);
        writer.Key(member.name.GetString(), member.name.GetStringLength());
        next = &member.value;
      } else {
        writer.EndObject();
        open.pop_back();
      }
    } else if (top.index < top.container->Size()) {
      next = &(*top.container)[top.index++];
    } else {
      writer.EndArray();
      open.pop_back();
    }
  }
  return writtenText(buffer);
}
