// Client configurations for the tests, through RapidJSON's writer.
#include "support/job_config.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace testing_support {

JobConfig::JobConfig(const std::string& cmdType, const std::string& rootUrl,
                     const std::string& output) {
  set("cmdtype", cmdType);
  set("rooturl", rootUrl);
  set("appkey", "key");
  set("appsecret", "secret");
  fileId(4242);
  set("output", output);
}

JobConfig& JobConfig::set(const std::string& key, const std::string& value) {
  return put(key, value, false);
}

JobConfig& JobConfig::set(const std::string& key, int64_t value) {
  return put(key, std::to_string(value), true);
}

JobConfig& JobConfig::setJson(const std::string& key, const std::string& json) {
  return put(key, json, true);
}

JobConfig& JobConfig::remove(const std::string& key) {
  for (auto it = members_.begin(); it != members_.end(); ++it) {
    if (it->key == key) {
      members_.erase(it);
      break;
    }
  }
  return *this;
}

JobConfig& JobConfig::fileId(int64_t id) {
  return setJson("requestbody", "{\"source\":{\"fileId\":" + std::to_string(id) + "}}");
}

JobConfig& JobConfig::gateway(const std::string& accountUrl, const std::string& tenant,
                              const std::string& org) {
  return set("accounturl", accountUrl).set("tenantid", tenant).set("orgid", org);
}

JobConfig& JobConfig::put(const std::string& key, const std::string& value, bool json) {
  for (Member& member : members_) {
    if (member.key == key) {
      member.value = value;
      member.json = json;
      return *this;
    }
  }
  members_.push_back({key, value, json});
  return *this;
}

std::string JobConfig::text() const {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  for (const Member& member : members_) {
    writer.Key(member.key.c_str(), static_cast<rapidjson::SizeType>(member.key.size()));
    const auto length = static_cast<rapidjson::SizeType>(member.value.size());
    if (member.json) {
      writer.RawValue(member.value.c_str(), length, rapidjson::kObjectType);
    } else {
      writer.String(member.value.c_str(), length);
    }
  }
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace testing_support
