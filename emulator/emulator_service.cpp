// The emulated endpoints. Service answers use the envelope {"code","message","data"}
// with an integer "code" on errors; the gateway's own answers use OAuth2 and plain JSON.
#include "emulator_service.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <chrono>
#include <cstdlib>
#include <ctime>

#include "local_time.h"
#include "platform/platform.h"
#include "transport/json_parse.h"
#include "util/masking.h"

namespace {

const char kServiceTokenPath[] = "/oauth2/token";
const char kTranslatePath[] = "/v2/translate";
const char kStatusPath[] = "/translate";
const char kGatewayTokenPath[] = "/api/uaa/oauth/token";
const char kOrgPrefix[] = "/api/org-permission/v4/orgs/";
const char kProjectsSuffix[] = "/projects";

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

void addString(JsonWriter& json, const char* name, const std::string& value) {
  json.Key(name);
  json.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
}

// The service envelope; `data` writes the members of "data", when given.
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
  return buffer.GetString();
}

EmulatorResponse errorAnswer(int status, const std::string& message) {
  rapidjson::StringBuffer buffer;
  JsonWriter json(buffer);
  json.StartObject();
  json.Key("code");
  json.Int(status);
  addString(json, "message", message);
  json.EndObject();
  return {status, buffer.GetString()};
}

EmulatorResponse oauthError(int status, const std::string& error, const std::string& text) {
  rapidjson::StringBuffer buffer;
  JsonWriter json(buffer);
  json.StartObject();
  addString(json, "error", error);
  addString(json, "error_description", text);
  json.EndObject();
  return {status, buffer.GetString()};
}

bool parseFileId(const std::string& text, int64_t& id) {
  size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
  if (text.size() == digits || text.size() - digits > 18) return false;
  for (size_t i = digits; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  id = std::strtoll(text.c_str(), nullptr, 10);
  return true;
}

}  // namespace

int64_t EmulatorService::systemMillis() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

EmulatorService::EmulatorService(const EmulatorOptions& options, EmulatorLog& log, Clock clock)
    : options_(options),
      log_(log),
      clock_(std::move(clock)),
      verifier_(options.appKey, options.appSecret, options.tenant),
      dropsLeft_(options.dropConnections),
      errorsLeft_(options.errorAnswers) {}

EmulatorService::Routed EmulatorService::route(const std::string& path) {
  if (path == kServiceTokenPath) return {Endpoint::kServiceToken, "POST", ""};
  if (path == kTranslatePath) return {Endpoint::kTranslate, "PUT", ""};
  if (path == kStatusPath) return {Endpoint::kStatus, "GET", ""};
  if (path == kGatewayTokenPath) return {Endpoint::kGatewayToken, "POST", ""};
  const std::string prefix = kOrgPrefix;
  const std::string suffix = kProjectsSuffix;
  if (path.size() > prefix.size() + suffix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
      path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
    std::string org = path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
    if (org.find('/') == std::string::npos) return {Endpoint::kProjects, "GET", org};
  }
  return {};
}

EmulatorResponse EmulatorService::handle(const RecordedRequest& request, const Arrival& arrival) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string line = request.method + " " + maskCredentials(request.target) + " -> ";
  if (dropsLeft_ > 0 && arrival.requestOnConnection == 1) {
    --dropsLeft_;
    log_.line(line + "connection dropped");
    return EmulatorResponse(0, "", Delivery::drop());
  }
  lastNote_.clear();
  EmulatorResponse response = answer(request, clock_());
  line += std::to_string(response.status);
  if (!lastNote_.empty()) line += " (" + lastNote_ + ")";
  log_.line(line);
  return response;
}

EmulatorResponse EmulatorService::answer(const RecordedRequest& request, int64_t now) {
  if (errorsLeft_ > 0) {
    --errorsLeft_;
    lastNote_ = "injected error";
    return errorAnswer(500, "emulated server error");
  }
  Routed routed = route(request.path());
  if (routed.endpoint == Endpoint::kNone) {
    lastNote_ = "no such endpoint";
    return errorAnswer(404, "no such endpoint: " + request.path());
  }
  if (request.method != routed.method) {
    lastNote_ = "wrong method";
    return errorAnswer(405, "use " + std::string(routed.method) + " for " + request.path());
  }
  // The gateway fronts everything but its own token endpoint; a configured tenant makes
  // the signature mandatory, otherwise only requests that carry gateway lines are checked.
  bool signedEndpoint = routed.endpoint != Endpoint::kGatewayToken;
  if (GatewayVerifier::carriesGatewayHeaders(request) ||
      (signedEndpoint && !options_.tenant.empty())) {
    // The lookup is how a client learns its project, so only it may come without one.
    bool projectRequired = projectLookedUp_ && routed.endpoint != Endpoint::kProjects;
    std::string failed =
        verifier_.verify(request, now, std::to_string(options_.projectId), projectRequired);
    if (!failed.empty()) {
      log_.line("gateway check failed: " + failed + " (" + request.method + " " + request.path() +
                ")");
      lastNote_ = "rejected";
      return errorAnswer(401, "gateway check failed: " + failed);
    }
  }
  switch (routed.endpoint) {
    case Endpoint::kServiceToken:
      return serviceToken(request, now);
    case Endpoint::kTranslate:
      return translate(request, now);
    case Endpoint::kStatus:
      return status(request, now);
    case Endpoint::kGatewayToken:
      return gatewayToken(request, now);
    case Endpoint::kProjects:
      return projects(request, routed.org, now);
    case Endpoint::kNone:
      break;
  }
  return errorAnswer(404, "no such endpoint: " + request.path());
}

size_t EmulatorService::keptTokens() {
  std::lock_guard<std::mutex> lock(mutex_);
  return serviceTokens_.expiry.size() + gatewayTokens_.expiry.size();
}

std::string EmulatorService::issueToken(Tokens& tokens, const char* prefix, int64_t now) {
  while (!tokens.byExpiry.empty() && tokens.byExpiry.begin()->first <= now) {
    tokens.expiry.erase(tokens.byExpiry.begin()->second);
    tokens.byExpiry.erase(tokens.byExpiry.begin());
  }
  std::string token = prefix + platform::makeUuid();
  // Whole seconds, as the client reads "expireTime".
  const int64_t expiry = (now / 1000 + options_.tokenLifetime) * 1000;
  tokens.expiry[token] = expiry;
  tokens.byExpiry.emplace(expiry, token);
  return token;
}

std::string EmulatorService::checkBearer(const Tokens& tokens, const std::string& authorization,
                                         const char* scheme, int64_t now) {
  std::string token;
  if (!takeCredential(authorization, scheme, token) || token.empty()) return "token missing";
  auto found = tokens.expiry.find(token);
  if (found == tokens.expiry.end()) return "token unknown";
  if (found->second <= now) return "token expired";
  return std::string();
}

EmulatorResponse EmulatorService::serviceToken(const RecordedRequest& request, int64_t now) {
  std::string credential = encodeBase64(options_.appKey + ":" + options_.appSecret);
  std::string sent;
  if (!takeCredential(request.header("Authorization"), "Basic", sent) || sent != credential) {
    lastNote_ = "wrong application credential";
    return errorAnswer(401, "invalid application key or secret");
  }
  ParameterMap query = parseRawParameters(request.query());
  auto parameter = query.find("credential");
  if (parameter != query.end() && parameter->second != sent) {
    lastNote_ = "credential parameter differs";
    return errorAnswer(401, "credential parameter does not match the Authorization header");
  }
  std::string token = issueToken(serviceTokens_, "svc-", now);
  std::string expireTime = localTimeText(serviceTokens_.expiry[token] / 1000);
  lastNote_ = "token issued, expires " + expireTime;
  return {200, envelope("token issued", [&](JsonWriter& json) {
            addString(json, "token", token);
            addString(json, "expireTime", expireTime);
          })};
}

EmulatorResponse EmulatorService::translate(const RecordedRequest& request, int64_t now) {
  std::string problem = checkBearer(serviceTokens_, request.header("Authorization"), "Bearer", now);
  if (!problem.empty()) {
    lastNote_ = "access " + problem;
    return errorAnswer(401, "access " + problem);
  }
  rapidjson::Document body;
  const rapidjson::Value* fileId = nullptr;
  if (parseJson(request.body, body) && body.IsObject()) {
    const rapidjson::Value* source = findMember(body, "source");
    if (source != nullptr) fileId = findMember(*source, "fileId");
  }
  if (fileId == nullptr || !fileId->IsInt64()) {
    lastNote_ = "bad body";
    return errorAnswer(400, "request body needs an integer source.fileId");
  }
  int64_t id = fileId->GetInt64();
  jobs_[id] = now;
  lastNote_ = "job for file " + std::to_string(id) + " started";
  std::string accepted = "translate job accepted for file " + std::to_string(id);
  if (options_.messageBytes > static_cast<int64_t>(accepted.size())) {
    accepted.resize(static_cast<size_t>(options_.messageBytes), '.');
  }
  return {200, envelope(accepted, nullptr)};
}

EmulatorResponse EmulatorService::status(const RecordedRequest& request, int64_t now) {
  std::string problem = checkBearer(serviceTokens_, request.header("Authorization"), "Bearer", now);
  if (!problem.empty()) {
    lastNote_ = "access " + problem;
    return errorAnswer(401, "access " + problem);
  }
  ParameterMap query = parseRawParameters(request.query());
  int64_t id = 0;
  if (query.count("fileId") == 0 || !parseFileId(query["fileId"], id)) {
    lastNote_ = "bad fileId";
    return errorAnswer(400, "an integer fileId parameter is required");
  }
  auto job = jobs_.find(id);
  if (job == jobs_.end()) {
    lastNote_ = "unknown file";
    return errorAnswer(404, "no translate job for file " + std::to_string(id));
  }
  std::string state = "processing";
  std::string message = "translation in progress";
  if (now - job->second >= options_.jobDuration * 1000) {
    bool fails = options_.failFileIds.count(id) != 0;
    state = fails ? "failed" : "success";
    message = fails ? "translation failed for file " + std::to_string(id) : "translation finished";
  }
  lastNote_ = "file " + std::to_string(id) + " " + state;
  return {200, envelope(message, [&](JsonWriter& json) { addString(json, "status", state); })};
}

EmulatorResponse EmulatorService::gatewayToken(const RecordedRequest& request, int64_t now) {
  // The client posts its form unencoded; a secret holding "&" or "=" only survives a
  // comparison with the whole body.
  bool exact = request.body == "grant_type=client_credentials&client_id=" + options_.clientId +
                                   "&client_secret=" + options_.clientSecret;
  ParameterMap form = parseRawParameters(request.body);
  if (!exact && form["grant_type"] != "client_credentials") {
    lastNote_ = "unsupported grant";
    return oauthError(400, "unsupported_grant_type", "only client_credentials is supported");
  }
  if (!exact &&
      (form["client_id"] != options_.clientId || form["client_secret"] != options_.clientSecret)) {
    lastNote_ = "wrong client credentials";
    return oauthError(401, "invalid_client", "bad client id or secret");
  }
  std::string token = issueToken(gatewayTokens_, "gw-", now);
  lastNote_ = "gateway token issued";
  rapidjson::StringBuffer buffer;
  JsonWriter json(buffer);
  json.StartObject();
  addString(json, "access_token", token);
  addString(json, "token_type", "bearer");
  json.Key("expires_in");
  json.Int64(options_.tokenLifetime);
  json.EndObject();
  return {200, buffer.GetString()};
}

EmulatorResponse EmulatorService::projects(const RecordedRequest& request, const std::string& org,
                                           int64_t now) {
  std::string problem = checkBearer(gatewayTokens_, request.header("Authorization"), "bearer", now);
  if (!problem.empty()) {
    lastNote_ = "gateway " + problem;
    return errorAnswer(401, "gateway " + problem);
  }
  if (org != options_.org) {
    lastNote_ = "unknown organisation";
    return errorAnswer(404, "unknown organisation " + org);
  }
  projectLookedUp_ = true;
  lastNote_ = "project " + std::to_string(options_.projectId);
  rapidjson::StringBuffer buffer;
  JsonWriter json(buffer);
  json.StartObject();
  json.Key("project");
  json.StartObject();
  json.Key("id");
  json.Uint64(options_.projectId);
  addString(json, "name", "Emulated project");
  json.EndObject();
  json.EndObject();
  return {200, buffer.GetString()};
}
