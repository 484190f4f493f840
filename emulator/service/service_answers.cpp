// Service answers use the envelope {"code","message","data"} with an integer "code" on errors;
// the gateway's own answers use OAuth2 and plain JSON.
#include "service/service_answers.h"

void addString(JsonWriter& json, const char* name, const std::string& value) {
  json.Key(name);
  json.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
}

std::string envelope(const std::string& message, const std::function<void(JsonWriter&)>& data) {
  rapidjson::StringBuffer buffer;
  JsonWriter json(buffer);
  json.StartObject();
  addString(json, "code", "success");
  addString(json, "message", message);
  if (data) {
    json.Key("data");
    json.StartObject();
    data(json);
    json.EndObject();
  }
  json.EndObject();
  return writtenText(buffer);
}

EmulatorResponse errorAnswer(int status, const std::string& message) {
  rapidjson::StringBuffer buffer;
  JsonWriter json(buffer);
  json.StartObject();
  json.Key("code");
  json.Int(status);
  addString(json, "message", message);
  json.EndObject();
  return {status, writtenText(buffer)};
}

EmulatorResponse oauthError(int status, const std::string& error, const std::string& text) {
  rapidjson::StringBuffer buffer;
  JsonWriter json(buffer);
  json.StartObject();
  addString(json, "error", error);
  addString(json, "error_description", text);
  json.EndObject();
  return {status, writtenText(buffer)};
}

EmulatorResponse adminAnswer(int status, const std::string& message) {
  rapidjson::StringBuffer buffer;
  JsonWriter json(buffer);
  json.StartObject();
  addString(json, "message", message);
  json.EndObject();
  return {status, writtenText(buffer)};
}
