// A client configuration for the tests, written with RapidJSON's writer, so that every text in
// it (a temporary directory's path, a URL) is escaped by construction.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

class JobConfig {
 public:
  // "cmdtype", "rooturl" and "output", with the application key "key" and secret "secret" and
  // a request body for file 4242.
  JobConfig(const std::string& cmdType, const std::string& rootUrl, const std::string& output);

  // The member `key` holds the text `value`, in the place of an earlier member of that name.
  JobConfig& set(const std::string& key, const std::string& value);
  // The member `key` holds the number `value`.
  JobConfig& set(const std::string& key, int64_t value);
  // The member `key` holds the JSON text `json` as it is: an object, or a value of a type the
  // client does not take.
  JobConfig& setJson(const std::string& key, const std::string& json);
  JobConfig& remove(const std::string& key);

  // The request body {"source":{"fileId":<id>}}.
  JobConfig& fileId(int64_t id);
  // Gateway mode: "tenantid" and "orgid", and "accounturl" for the project lookup.
  JobConfig& gateway(const std::string& accountUrl, const std::string& tenant,
                     const std::string& org);

  // The configuration as one compact JSON object, members in the order they were first set.
  std::string text() const;
  operator std::string() const { return text(); }

 private:
  struct Member {
    std::string key;
    std::string value;
    bool json;  // `value` is JSON text rather than a string
  };
  JobConfig& put(const std::string& key, const std::string& value, bool json);

  std::vector<Member> members_;
};

}  // namespace testing_support
