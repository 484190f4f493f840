// The table of configuration keys.
#include "run/config_keys.h"

#include "run/translate_job.h"

namespace {

using J = TranslateJob;

ConfigKey text(const char* name, std::string J::*field, WhenAbsent whenAbsent, const char* message,
               SentAs sentAs, const char* help) {
  return {name, KeyKind::kText, field, nullptr, whenAbsent, message, sentAs, nullptr, help};
}

ConfigKey path(const char* name, std::string J::*field, const char* fallback, const char* base,
               const char* help) {
  return {name,    KeyKind::kText, field, fallback, WhenAbsent::kDefault,
          nullptr, SentAs::kPath,  base,  help};
}

}  // namespace

const std::vector<ConfigKey>& configKeys() {
  static const std::vector<ConfigKey> keys = {
      text("cmdtype", &J::cmdType, WhenAbsent::kFailsLoad, "cmdtype is empty!", SentAs::kNothing,
           "translate, waitfor or translatewaitfor"),
      text("accounturl", &J::accountUrl, WhenAbsent::kRecorded, "account url is empty!",
           SentAs::kBaseUrl, "base URL of the gateway's account side"),
      path("gatewaytokenurl", &J::gatewayTokenUrl, "/api/uaa/oauth/token", "accounturl",
           "path of the gateway token endpoint"),
      path("projecturl", &J::projectUrl,
           "/api/org-permission/v4/orgs/{org-id}/projects?includeExtendData=false", "accounturl",
           "path of the organisation's project list, {org-id} replaced by orgid"),
      text("tenantid", &J::tenantId, WhenAbsent::kDefault, nullptr, SentAs::kHeaderOrUrl,
           "tenant; when set, every request is signed for the API gateway"),
      text("orgid", &J::orgId, WhenAbsent::kFailsWithTenant, "orgid is empty!",
           SentAs::kHeaderOrUrl, "organisation"),
      text("rooturl", &J::rootUrl, WhenAbsent::kFailsLoad, "root url is empty!", SentAs::kBaseUrl,
           "base URL of the service"),
      path("tokenurl", &J::tokenUrl, "/oauth2/token", "rooturl", "path of the token endpoint"),
      path("translateurl", &J::translateUrl, "/v2/translate", "rooturl",
           "path of the translate endpoint"),
      path("statusurl", &J::statusUrl, "/translate", "rooturl", "path of the status endpoint"),
      text("appsecret", &J::appSecret, WhenAbsent::kFailsLoad, "appsecret is empty!",
           SentAs::kNothing, "application secret"),
      text("appkey", &J::appKey, WhenAbsent::kFailsLoad, "appkey is empty!", SentAs::kHeaderOrUrl,
           "application key"),
      {"requestbody", KeyKind::kRequestBody, nullptr, nullptr, WhenAbsent::kDefault,
       "file id is invalid!", SentAs::kNothing, nullptr,
       "translate request, an object with an integer source.fileId"},
      text("output", &J::outputPath, WhenAbsent::kFailsLoad, "resultJson is empty!",
           SentAs::kNothing, "path of the result file"),
      {"overtime", KeyKind::kSeconds, nullptr, "3600", WhenAbsent::kDefault, nullptr,
       SentAs::kNothing, nullptr, "limit of the wait in seconds"},
      text("cafile", &J::caFile, WhenAbsent::kDefault, nullptr, SentAs::kNothing,
           "PEM file of the CAs trusted instead of the system's store"),
  };
  return keys;
}

const ConfigKey* findConfigKey(const std::string& name) {
  for (const ConfigKey& key : configKeys()) {
    if (name == key.name) return &key;
  }
  return nullptr;
}
