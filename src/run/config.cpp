// Reading the configuration file into the job, as the table of keys says.
#include "run/config.h"

#include <rapidjson/error/en.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "credentials/project_lookup.h"
#include "platform/platform.h"
#include "run/config_keys.h"
#include "run/translate_job.h"
#include "transport/url_scheme.h"
#include "util/ascii.h"
#include "util/json.h"
#include "util/log.h"
#include "util/masking.h"

namespace {

// The most bytes a configuration may have.
const size_t kConfigLimitBytes = 16 * 1024 * 1024;

// The whole number of seconds `key` gives; its default when it is absent, and its default with a
// warning when it is no whole number from 0 up.
uint64_t readSeconds(const rapidjson::Value& doc, const ConfigKey& key) {
  const uint64_t fallback = std::strtoull(key.fallback, nullptr, 10);
  const rapidjson::Value* value = findMember(doc, key.name);
  if (value == nullptr) return fallback;
  if (value->IsUint64()) return value->GetUint64();
  MLOG(WARNING, kConfigWarning) << key.name << " " << loggableText(writeCompactJson(*value), 200)
                                << " is not a whole number of seconds from 0 up; " << fallback
                                << " s are used in its place";
  return fallback;
}

// The distance between two keys, letter case aside: the edits that turn one into the other.
size_t keyDistance(const std::string& a, const std::string& b) {
  const std::string x = toLowerAscii(a);
  const std::string y = toLowerAscii(b);
  std::vector<size_t> row(y.size() + 1);
  for (size_t j = 0; j <= y.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= x.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= y.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (x[i - 1] == y[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[y.size()];
}

// The known key that `name` most resembles, within two edits; nullptr when none does.
const char* resembledKey(const std::string& name) {
  const char* best = nullptr;
  size_t bestDistance = 3;
  for (const ConfigKey& key : configKeys()) {
    const size_t length = std::char_traits<char>::length(key.name);
    if (name.size() > length + 2 || name.size() + 2 < length) continue;
    const size_t distance = keyDistance(name, key.name);
    if (distance < bestDistance) {
      best = key.name;
      bestDistance = distance;
    }
  }
  return best;
}

// One warning for each member of `doc` that is no configuration key, naming the key it most
// resembles: a misspelt key would otherwise be ignored without a word. After the first few,
// one line counts the rest.
void warnOfUnknownKeys(const rapidjson::Value& doc) {
  const size_t kMostWarned = 10;
  std::set<std::string> unknown;
  for (const auto& member : doc.GetObject()) {
    const std::string name(member.name.GetString(), member.name.GetStringLength());
    if (findConfigKey(name) != nullptr || !unknown.insert(name).second) continue;
    if (unknown.size() > kMostWarned) continue;
    const char* resembled = resembledKey(name);
    MLOG(WARNING, kConfigWarning) << "unknown key " << loggableText(name, 200)
                                  << (resembled != nullptr
                                          ? std::string(" (did you mean ") + resembled + "?)"
                                          : std::string());
  }
  if (unknown.size() > kMostWarned) {
    MLOG(WARNING, kConfigWarning) << "and " << unknown.size() - kMostWarned << " more unknown keys";
  }
}

// An object "requestbody" gives the request body and its file id; without a usable file id it
// fails the load. Anything else leaves both empty.
bool readRequestBody(const rapidjson::Value& doc, const ConfigKey& key, TranslateJob& job) {
  const rapidjson::Value* body = findMember(doc, key.name);
  if (body == nullptr || !body->IsObject()) return true;
  job.requestBody = writeCompactJson(*body);
  job.fileId = extractFileId(job.requestBody);
  if (!job.fileId.empty()) return true;
  job.message = key.message;
  return false;
}

// Reads `key` from `doc` into `job`; false when the load fails there, with the reason in the
// job's message.
bool readKey(const rapidjson::Value& doc, const ConfigKey& key, TranslateJob& job) {
  if (key.kind == KeyKind::kRequestBody) return readRequestBody(doc, key, job);
  if (key.kind == KeyKind::kSeconds) {
    job.overtime = readSeconds(doc, key);
    return true;
  }
  std::string& field = job.*key.field;
  if (getConfigString(doc, key.name, field)) return true;
  switch (key.whenAbsent) {
    case WhenAbsent::kDefault:
      if (key.fallback != nullptr) field = key.fallback;
      return true;
    case WhenAbsent::kRecorded:
      job.message = key.message;
      return true;
    case WhenAbsent::kFailsWithTenant:
      if (job.tenantId.empty()) return true;
      break;
    case WhenAbsent::kFailsLoad:
      break;
  }
  job.message = key.message;
  return false;
}

// Why the base URL `url` of the key `name` cannot be requested, or empty: libcurl's parser must
// read it, and it must name its scheme, http or https. Without one libcurl would guess a
// scheme for some requests and assume https for others.
std::string baseUrlProblem(const std::string& name, const std::string& url) {
  UrlScheme scheme;
  std::string reason;
  if (!readUrlScheme(url, false, scheme, reason)) {
    return name + " is not a valid URL (" + reason + ")";
  }
  if (!scheme.named) return name + " names no scheme: begin it with http:// or https://";
  if (!isHttpScheme(scheme.name)) return name + " is not an http or https URL";
  return std::string();
}

// The URL requested from the path key `key` and its base: the project list's with its
// "{org-id}" replaced.
std::string requestedUrl(const TranslateJob& job, const ConfigKey& key, const std::string& base) {
  if (key.field == &TranslateJob::projectUrl) {
    return projectListUrl({job.accountUrl, job.gatewayTokenUrl, job.projectUrl, job.orgId});
  }
  return base + job.*key.field;
}

// Why the URL joined from the path key `key` cannot be requested, or empty: libcurl's parser
// must read it. Nothing is joined to a base that is not set.
std::string joinedUrlProblem(const TranslateJob& job, const ConfigKey& key) {
  const ConfigKey* base = findConfigKey(key.base);
  const std::string& baseUrl = job.*base->field;
  if (baseUrl.empty()) return std::string();
  UrlScheme scheme;
  std::string reason;
  if (readUrlScheme(requestedUrl(job, key, baseUrl), false, scheme, reason)) return std::string();
  return std::string(key.name) + " makes no valid URL with " + base->name + " (" + reason + ")";
}

// Why the CA file at `path`, when one is set, cannot serve, or empty: it must be a regular file
// this process may read, as every handshake reads it again.
std::string caFileProblem(const std::string& path) {
  if (path.empty()) return std::string();
  if (holdsControlCharacter(path)) return "cafile holds a control character";
  std::string reason;
  if (platform::isReadableFile(path, reason)) return std::string();
  return "cafile cannot be read: " + reason;
}

}  // namespace

bool readConfigDocument(const std::string& path, rapidjson::Document& doc, std::string& reason) {
  std::string text;
  if (!platform::readTextFile(path, text, reason, kConfigLimitBytes)) return false;
  if (!parseJsonSkippingBom(text, doc)) {
    const size_t markBytes = static_cast<size_t>(afterByteOrderMark(text.c_str()) - text.c_str());
    reason = "invalid JSON at byte " + std::to_string(doc.GetErrorOffset() + markBytes) + ": " +
             rapidjson::GetParseError_En(doc.GetParseError());
    return false;
  }
  if (!doc.IsObject()) {
    reason = "not a JSON object";
    return false;
  }
  return true;
}

bool readSettings(const rapidjson::Value& doc, TranslateJob& job) {
  warnOfUnknownKeys(doc);
  for (const ConfigKey& key : configKeys()) {
    if (!readKey(doc, key, job)) return false;
  }
  return true;
}

std::string unsendableSetting(const TranslateJob& job) {
  const std::vector<ConfigKey>& keys = configKeys();
  for (const ConfigKey& key : keys) {
    if (key.sentAs != SentAs::kNothing && holdsControlCharacter(job.*key.field)) {
      return std::string(key.name) + " holds a control character";
    }
  }
  for (const ConfigKey& key : keys) {
    if (key.sentAs != SentAs::kBaseUrl || (job.*key.field).empty()) continue;
    const std::string problem = baseUrlProblem(key.name, job.*key.field);
    if (!problem.empty()) return problem;
  }
  for (const ConfigKey& key : keys) {
    if (key.sentAs != SentAs::kPath) continue;
    const std::string problem = joinedUrlProblem(job, key);
    if (!problem.empty()) return problem;
  }
  return caFileProblem(job.caFile);
}

std::string loadFailureLine(const std::string& path, const std::string& reason) {
  return "marluneTranslate: " + escapeControlCharacters(path) + ": " +
         escapeControlCharacters(reason) + "\n";
}

bool getConfigString(const rapidjson::Value& doc, const char* name, std::string& field) {
  if (name == nullptr || *name == '\0') return false;
  std::string value;
  if (!getStringMember(doc, name, value) || value.empty()) return false;
  field = value;
  return true;
}

std::string extractFileId(const std::string& requestBody) {
  rapidjson::Document doc;
  if (!parseJsonSkippingBom(requestBody, doc) || !doc.IsObject()) return std::string();
  const rapidjson::Value* source = findMember(doc, "source");
  const rapidjson::Value* fileId = source == nullptr ? nullptr : findMember(*source, "fileId");
  if (fileId == nullptr || !fileId->IsInt64()) return std::string();
  return std::to_string(fileId->GetInt64());
}
