// Reading the configuration file into the job.
#include "run/config.h"

#include <rapidjson/error/en.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "credentials/project_lookup.h"
#include "run/translate_job.h"
#include "transport/http_exchange.h"
#include "transport/text_encoding.h"
#include "transport/url_scheme.h"
#include "util/ascii.h"
#include "util/json.h"
#include "util/log.h"

const char kDefaultGatewayTokenUrl[] = "/api/uaa/oauth/token";
const char kDefaultProjectUrl[] =
    "/api/org-permission/v4/orgs/{org-id}/projects?includeExtendData=false";
const char kDefaultTokenUrl[] = "/oauth2/token";
const char kDefaultTranslateUrl[] = "/v2/translate";
const char kDefaultStatusUrl[] = "/translate";

namespace {

const uint64_t kDefaultOvertime = 3600;

// Reads a string setting; `fallback` (when given) is assigned when the member is absent.
bool readSetting(const rapidjson::Value& doc, const char* name, std::string& field,
                 const char* fallback = nullptr) {
  if (getConfigString(doc, name, field)) return true;
  if (fallback != nullptr) field = fallback;
  return false;
}

uint64_t readOvertime(const rapidjson::Value& doc) {
  const rapidjson::Value* value = findMember(doc, "overtime");
  return value != nullptr && value->IsUint64() ? value->GetUint64() : kDefaultOvertime;
}

// Why the base URL `url` of the setting `name` cannot be requested, or empty: libcurl's parser
// must read it, and a scheme it names must be http or https.
std::string baseUrlProblem(const std::string& name, const std::string& url) {
  UrlScheme scheme;
  std::string reason;
  if (!readUrlScheme(url, false, scheme, reason)) {
    return name + " is not a valid URL (" + reason + ")";
  }
  if (scheme.named && !isHttpScheme(scheme.name)) return name + " is not an http or https URL";
  return std::string();
}

// A setting and the text it holds.
struct Setting {
  const char* name;
  const std::string& value;
};

// A URL requested, made of a base setting and a path setting.
struct JoinedUrl {
  const char* base;
  const char* path;
  std::string url;
};

// Why `joined` cannot be requested, or empty: libcurl's parser must read it.
std::string joinedUrlProblem(const JoinedUrl& joined) {
  UrlScheme scheme;
  std::string reason;
  if (readUrlScheme(joined.url, false, scheme, reason)) return std::string();
  return std::string(joined.path) + " makes no valid URL with " + joined.base + " (" + reason + ")";
}

// Why the settings that go into URLs and header lines cannot be sent, or empty. A control
// character would end a header line or break a URL; the service's URLs, and the account
// side's when it is set, must be HTTP or HTTPS URLs that libcurl reads.
std::string unsendableSetting(const TranslateJob& job) {
  const Setting sent[] = {{"accounturl", job.accountUrl}, {"gatewaytokenurl", job.gatewayTokenUrl},
                          {"projecturl", job.projectUrl}, {"tenantid", job.tenantId},
                          {"orgid", job.orgId},           {"rooturl", job.rootUrl},
                          {"tokenurl", job.tokenUrl},     {"translateurl", job.translateUrl},
                          {"statusurl", job.statusUrl},   {"appkey", job.appKey}};
  for (const Setting& setting : sent) {
    if (holdsControlCharacter(setting.value)) {
      return std::string(setting.name) + " holds a control character";
    }
  }
  std::string problem = baseUrlProblem("rooturl", job.rootUrl);
  std::vector<JoinedUrl> urls = {{"rooturl", "tokenurl", job.rootUrl + job.tokenUrl},
                                 {"rooturl", "translateurl", job.rootUrl + job.translateUrl},
                                 {"rooturl", "statusurl", job.rootUrl + job.statusUrl}};
  if (!job.accountUrl.empty()) {
    if (problem.empty()) problem = baseUrlProblem("accounturl", job.accountUrl);
    const ProjectLookup lookup{job.accountUrl, job.gatewayTokenUrl, job.projectUrl, job.orgId};
    urls.push_back({"accounturl", "gatewaytokenurl", job.accountUrl + job.gatewayTokenUrl});
    urls.push_back({"accounturl", "projecturl", projectListUrl(lookup)});
  }
  for (const JoinedUrl& joined : urls) {
    if (problem.empty()) problem = joinedUrlProblem(joined);
  }
  return problem;
}

// The system's reason for the last failed call.
std::string systemReason() { return errno != 0 ? std::strerror(errno) : "unknown error"; }

// Why the CA file at `path`, when one is set, cannot serve, or empty: it must be readable.
std::string caFileProblem(const std::string& path) {
  if (path.empty()) return std::string();
  if (holdsControlCharacter(path)) return "cafile holds a control character";
  std::string firstByte;
  std::string reason;
  if (readTextFile(path, firstByte, reason, 1)) return std::string();
  return "cafile cannot be read: " + reason;
}

// Reads the configuration file at `path` into `doc`. False, with the reason, when it cannot be
// read or is not one JSON object; a parser's reason gives the byte of the file it stopped at.
bool readConfigDocument(const std::string& path, rapidjson::Document& doc, std::string& reason) {
  std::string text;
  if (!readTextFile(path, text, reason)) return false;
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

}  // namespace

bool readTextFile(const std::string& path, std::string& text, std::string& reason, size_t limit) {
  text.clear();
  errno = 0;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) {
    reason = systemReason();
    return false;
  }
  char block[65536];
  while (text.size() < limit) {
    const size_t got =
        std::fread(block, 1, std::min(sizeof(block), limit - text.size()), file.get());
    if (got == 0) break;
    text.append(block, got);
  }
  if (std::ferror(file.get())) {
    reason = systemReason();
    return false;
  }
  text.resize(strnlen(text.c_str(), text.size()));
  return true;
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

bool TranslateJob::loadConfig(const std::string& path) {
  if (path.empty()) {
    message = "file path is empty!";
    return false;
  }
  rapidjson::Document doc;
  if (!readConfigDocument(path, doc, message)) {
    MLOG(ERROR, kLoadConfigError) << " load config error!";
    return false;
  }
  if (!readSetting(doc, "cmdtype", cmdType)) {
    message = "cmdtype is empty!";
    return false;
  }
  if (!readSetting(doc, "accounturl", accountUrl)) message = "account url is empty!";
  readSetting(doc, "gatewaytokenurl", gatewayTokenUrl, kDefaultGatewayTokenUrl);
  readSetting(doc, "projecturl", projectUrl, kDefaultProjectUrl);
  readSetting(doc, "tenantid", tenantId);
  if (!readSetting(doc, "orgid", orgId) && !tenantId.empty()) {
    message = "orgid is empty!";
    return false;
  }
  if (!readSetting(doc, "rooturl", rootUrl)) {
    message = "root url is empty!";
    return false;
  }
  readSetting(doc, "tokenurl", tokenUrl, kDefaultTokenUrl);
  readSetting(doc, "translateurl", translateUrl, kDefaultTranslateUrl);
  readSetting(doc, "statusurl", statusUrl, kDefaultStatusUrl);
  if (!readSetting(doc, "appsecret", appSecret)) {
    message = "appsecret is empty!";
    return false;
  }
  if (!readSetting(doc, "appkey", appKey)) {
    message = "appkey is empty!";
    return false;
  }
  const rapidjson::Value* body = findMember(doc, "requestbody");
  if (body != nullptr && body->IsObject()) {
    requestBody = writeCompactJson(*body);
    fileId = extractFileId(requestBody);
    if (fileId.empty()) {
      message = "file id is invalid!";
      return false;
    }
  }
  if (!readSetting(doc, "output", outputPath)) {
    message = "resultJson is empty!";
    return false;
  }
  readSetting(doc, "cafile", caFile);
  std::string problem = unsendableSetting(*this);
  if (problem.empty()) problem = caFileProblem(caFile);
  if (!problem.empty()) {
    message = problem;
    return false;
  }
  trustOnlyCaFile(caFile);
  overtime = readOvertime(doc);
  outputPath = utf8ToLocal(outputPath);
  if (!clearEarlierResult()) return false;  // before the first request, the project lookup
  deriveUrls();
  MLOG(INFO, kLoadConfigSuccess) << " load config success.";
  return true;
}

void TranslateJob::deriveUrls() {
  projectId = lookupProjectId();
  tokenUrl = rootUrl + tokenUrl;
  translateUrl = rootUrl + translateUrl;
  statusUrl = rootUrl + statusUrl;
}
