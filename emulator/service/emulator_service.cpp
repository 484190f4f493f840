// The emulated endpoints. Service answers use the envelope {"code","message","data"}
// with an integer "code" on errors; the gateway's own answers use OAuth2 and plain JSON.
#include "service/emulator_service.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>

#include "server/local_time.h"
#include "util/ascii.h"
#include "util/json.h"
#include "util/masking.h"

namespace {

const char kServiceTokenPath[] = "/oauth2/token";
const char kTranslatePath[] = "/v2/translate";
const char kStatusPath[] = "/translate";
const char kGatewayTokenPath[] = "/api/uaa/oauth/token";
const char kOrgPrefix[] = "/api/org-permission/v4/orgs/";
const char kProjectsSuffix[] = "/projects";
const char kAdminPrefix[] = "/__emulator/";
const char kMasked[] = "***";

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

void replaceAll(std::string& text, const std::string& secret) {
  if (secret.empty()) return;
  for (size_t at = text.find(secret); at != std::string::npos;
       at = text.find(secret, at + sizeof kMasked - 1)) {
    text.replace(at, secret.size(), kMasked);
  }
}

// The value of a form field `name` in `body` masked, up to the next "&".
void maskFormField(std::string& body, const std::string& name) {
  for (size_t at = body.find(name + "="); at != std::string::npos; at = body.find(name + "=", at)) {
    if (at == 0 || body[at - 1] == '&') {
      const size_t start = at + name.size() + 1;
      const size_t end = body.find('&', start);
      body.replace(start, end == std::string::npos ? std::string::npos : end - start, kMasked);
    }
    at += name.size() + 1;
  }
}

// The integer "source"."fileId" of a translate request's body.
bool commitFileId(const RecordedRequest& request, int64_t& id) {
  rapidjson::Document body;
  if (!parseJson(request.body, body) || !body.IsObject()) return false;
  const rapidjson::Value* source = findMember(body, "source");
  const rapidjson::Value* fileId = source != nullptr ? findMember(*source, "fileId") : nullptr;
  if (fileId == nullptr || !fileId->IsInt64()) return false;
  id = fileId->GetInt64();
  return true;
}

// The "fileId" parameter of a status request.
bool statusFileId(const RecordedRequest& request, int64_t& id) {
  ParameterMap query = parseRawParameters(request.query());
  auto found = query.find("fileId");
  return found != query.end() && parseFileId(found->second, id);
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
      tokenLifetime_(options.tokenLifetime),
      jobDuration_(options.jobDuration),
      journal_(static_cast<size_t>(options.journalSize)),
      verifier_(options.appKey, options.appSecret, options.tenant),
      dropsLeft_(options.dropConnections),
      errorsLeft_(options.errorAnswers),
      jobs_(options.failFileIds) {
  jobs_.follow({}, jobDuration_);
}

void EmulatorService::useScenario(const Scenario& scenario) {
  std::lock_guard<std::mutex> lock(mutex_);
  applyScenario(scenario);
}

void EmulatorService::applyScenario(const Scenario& scenario) {
  scenario_ = scenario;
  const bool lifetimeGiven = options_.given.count("--token-lifetime") != 0;
  tokenLifetime_ = lifetimeGiven || scenario.tokenLifetime == 0 ? options_.tokenLifetime
                                                                : scenario.tokenLifetime;
  const bool durationGiven = options_.given.count("--job-duration") != 0;
  jobDuration_ =
      durationGiven || scenario.jobDuration < 0 ? options_.jobDuration : scenario.jobDuration;
  endpointRequests_.clear();
  fileRequests_.clear();
  jobs_.follow(scenario.jobs, jobDuration_);
  log_.line("scenario in force: " + std::to_string(scenario.jobs.size()) + " jobs, " +
            std::to_string(scenario.commits.size()) + " refused commits, " +
            std::to_string(scenario.faults.size()) + " faults; token-lifetime " +
            std::to_string(tokenLifetime_) + ", job-duration " + std::to_string(jobDuration_));
}

void EmulatorService::resetState() {
  endpointRequests_.clear();
  fileRequests_.clear();
  journal_.clear();
  verifier_ = GatewayVerifier(options_.appKey, options_.appSecret, options_.tenant);
  dropsLeft_ = options_.dropConnections;
  errorsLeft_ = options_.errorAnswers;
  serviceTokens_.clear();
  gatewayTokens_.clear();
  jobs_.clear();
}

const char* EmulatorService::endpointName(Endpoint endpoint) {
  switch (endpoint) {
    case Endpoint::kServiceToken:
      return "token";
    case Endpoint::kTranslate:
      return "translate";
    case Endpoint::kStatus:
      return "status";
    case Endpoint::kGatewayToken:
      return "gatewaytoken";
    case Endpoint::kProjects:
      return "projects";
    case Endpoint::kNone:
      break;
  }
  return "";
}

const FaultRule* EmulatorService::countFault(Endpoint endpoint, const RecordedRequest& request) {
  if (endpoint == Endpoint::kNone) return nullptr;
  const int64_t count = ++endpointRequests_[endpoint];
  const std::string name = endpointName(endpoint);
  // A request's file is read, and counted, only where a fault of the scenario asks for it.
  const bool fileFaults =
      std::any_of(scenario_.faults.begin(), scenario_.faults.end(),
                  [&name](const FaultRule& rule) { return rule.forFile && rule.endpoint == name; });
  int64_t fileId = 0;
  const bool ofFile =
      fileFaults && ((endpoint == Endpoint::kTranslate && commitFileId(request, fileId)) ||
                     (endpoint == Endpoint::kStatus && statusFileId(request, fileId)));
  const int64_t fileCount = ofFile ? ++fileRequests_[{endpoint, fileId}] : 0;
  for (const FaultRule& rule : scenario_.faults) {
    if (rule.endpoint != name) continue;
    if (rule.forFile ? ofFile && rule.fileId == fileId && rule.covers(fileCount)
                     : rule.covers(count)) {
      return &rule;
    }
  }
  return nullptr;
}

JournalEntry EmulatorService::journalEntry(const RecordedRequest& request, int64_t now) const {
  JournalEntry entry;
  entry.time = now;
  entry.method = request.method;
  entry.target = maskCredentials(request.target);
  const std::string secrets[] = {options_.appSecret, options_.clientSecret};
  for (const std::string& line : request.headers) {
    const size_t colon = line.find(':');
    std::string name = line.substr(0, colon);
    std::string value = colon == std::string::npos ? std::string() : line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(" \t"));
    value.erase(value.find_last_not_of(" \t") + 1);
    for (const std::string& secret : secrets) replaceAll(value, secret);
    if (equalsIgnoreCase(name, "Authorization") || equalsIgnoreCase(name, "Proxy-Authorization")) {
      const size_t blank = value.find(' ');
      value = blank == std::string::npos ? kMasked : value.substr(0, blank) + " " + kMasked;
    } else if (equalsIgnoreCase(name, "x-ca-signature")) {
      value = kMasked;
    }
    entry.headers.emplace_back(std::move(name), std::move(value));
  }
  entry.bodySize = request.body.size();
  entry.body = request.body.substr(0, kJournalBodyBytes);
  for (const std::string& secret : secrets) replaceAll(entry.body, secret);
  maskFormField(entry.body, "client_secret");
  return entry;
}

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
  const std::string path = request.path();
  if (path.compare(0, sizeof kAdminPrefix - 1, kAdminPrefix) == 0) return admin(request);
  const int64_t now = clock_();
  JournalEntry entry = journalEntry(request, now);
  entry.connection = arrival.connection;
  const FaultRule* fault = countFault(route(path).endpoint, request);
  lastNote_.clear();
  issuedToken_.clear();
  std::string outcome;  // in the log line, when not the status
  EmulatorResponse response;
  if (dropsLeft_ > 0 && arrival.requestOnConnection == 1) {
    --dropsLeft_;
    response = EmulatorResponse(0, "", Delivery::drop());
    outcome = "connection dropped";
  } else {
    response = answerWithFault(request, fault, now, outcome);
  }
  if (outcome.empty()) outcome = std::to_string(response.status);
  std::string line = request.method + " " + entry.target + " -> " + outcome;
  if (!lastNote_.empty()) line += " (" + lastNote_ + ")";
  log_.line(line);
  const bool answered = response.delivery.kind != Delivery::Kind::kDrop &&
                        response.delivery.kind != Delivery::Kind::kGarbage;
  entry.status = answered ? response.status : 0;
  entry.note = lastNote_.empty() && !answered ? outcome : lastNote_;
  if (answered) {
    entry.answerBodySize = response.body.size();
    entry.answerBody = response.body.substr(0, kJournalBodyBytes);
    replaceAll(entry.answerBody, issuedToken_);
  }
  journal_.add(std::move(entry));
  return response;
}

EmulatorResponse EmulatorService::answerWithFault(const RecordedRequest& request,
                                                  const FaultRule* fault, int64_t now,
                                                  std::string& outcome) {
  const std::string action = fault != nullptr ? fault->action : "";
  if (action == "drop" || action == "garbage") {
    outcome = action == "drop" ? "connection dropped" : "garbage sent";
    lastNote_ = "fault: " + action;
    return EmulatorResponse(0, "", action == "drop" ? Delivery::drop() : Delivery::garbage());
  }
  if (action == "status") {
    lastNote_ = "fault: status " + std::to_string(fault->status);
    return EmulatorResponse(fault->status, fault->body);
  }
  EmulatorResponse response = answer(request, now);
  if (action == "delay") {
    response.delivery = Delivery::delay(fault->amount);
    lastNote_ += "; fault: delay " + std::to_string(fault->amount) + " ms";
  } else if (action == "drip") {
    response.delivery = Delivery::drip(fault->amount);
    lastNote_ += "; fault: drip " + std::to_string(fault->amount) + " bytes/s";
  }
  return response;
}

EmulatorResponse EmulatorService::admin(const RecordedRequest& request) {
  const std::string path = request.path();
  const std::string& method = request.method;
  EmulatorResponse response = adminAnswer(404, "no such admin endpoint: " + path);
  std::string note = "no such admin endpoint";
  if (path == "/__emulator/requests" && method == "GET") {
    response = EmulatorResponse(200, journal_.toJson());
    note = std::to_string(journal_.size()) + " journalled";
  } else if (path == "/__emulator/requests" && method == "DELETE") {
    journal_.clear();
    response = adminAnswer(200, "journal emptied");
    note = "journal emptied";
  } else if (path == "/__emulator/reset" && method == "POST") {
    resetState();
    response = adminAnswer(200, "state reset");
    note = "state reset";
  } else if (path == "/__emulator/scenario" && method == "PUT") {
    Scenario scenario;
    std::string error;
    if (parseScenario(request.body, scenario, error)) {
      applyScenario(scenario);
      response = adminAnswer(200, "scenario replaced");
      note = "scenario replaced";
    } else {
      response = adminAnswer(400, "invalid scenario: " + error);
      note = "invalid scenario";
    }
  } else if (path == "/__emulator/requests" || path == "/__emulator/reset" ||
             path == "/__emulator/scenario") {
    response = adminAnswer(405, "wrong method for " + path);
    note = "wrong method";
  }
  log_.line(method + " " + path + " -> " + std::to_string(response.status) + " (" + note + ")");
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
    bool projectRequired = !options_.projectIdOptional && routed.endpoint != Endpoint::kProjects;
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
  return serviceTokens_.size() + gatewayTokens_.size();
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
  std::string token = serviceTokens_.issue(now, tokenLifetime_);
  issuedToken_ = token;
  std::string expireTime = localTimeText(serviceTokens_.expiryOf(token) / 1000);
  lastNote_ = "token issued, expires " + expireTime;
  return {200, envelope("token issued", [&](JsonWriter& json) {
            addString(json, "token", token);
            addString(json, "expireTime", expireTime);
          })};
}

EmulatorResponse EmulatorService::translate(const RecordedRequest& request, int64_t now) {
  std::string problem = serviceTokens_.check(request.header("Authorization"), "Bearer", now);
  if (!problem.empty()) {
    lastNote_ = "access " + problem;
    return errorAnswer(401, "access " + problem);
  }
  int64_t id = 0;
  if (!commitFileId(request, id)) {
    lastNote_ = "bad body";
    return errorAnswer(400, "request body needs an integer source.fileId");
  }
  auto refusal = scenario_.commits.find(id);
  if (refusal != scenario_.commits.end()) {
    lastNote_ = "commit for file " + std::to_string(id) + " refused";
    rapidjson::StringBuffer buffer;
    JsonWriter json(buffer);
    json.StartObject();
    addString(json, "code", refusal->second.code);
    addString(json, "message", refusal->second.message);
    json.EndObject();
    return {200, writtenText(buffer)};
  }
  jobs_.start(id, now);
  lastNote_ = "job for file " + std::to_string(id) + " started";
  std::string accepted = "translate job accepted for file " + std::to_string(id);
  if (options_.messageBytes > static_cast<int64_t>(accepted.size())) {
    accepted.resize(static_cast<size_t>(options_.messageBytes), '.');
  }
  return {200, envelope(accepted, nullptr)};
}

EmulatorResponse EmulatorService::status(const RecordedRequest& request, int64_t now) {
  std::string problem = serviceTokens_.check(request.header("Authorization"), "Bearer", now);
  if (!problem.empty()) {
    lastNote_ = "access " + problem;
    return errorAnswer(401, "access " + problem);
  }
  int64_t id = 0;
  if (!statusFileId(request, id)) {
    lastNote_ = "bad fileId";
    return errorAnswer(400, "an integer fileId parameter is required");
  }
  std::string state;
  std::string message;
  if (!jobs_.query(id, now, state, message)) {
    lastNote_ = "unknown file";
    return errorAnswer(404, "no translate job for file " + std::to_string(id));
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
  std::string token = gatewayTokens_.issue(now, tokenLifetime_);
  issuedToken_ = token;
  lastNote_ = "gateway token issued";
  rapidjson::StringBuffer buffer;
  JsonWriter json(buffer);
  json.StartObject();
  addString(json, "access_token", token);
  addString(json, "token_type", "bearer");
  json.Key("expires_in");
  json.Int64(tokenLifetime_);
  json.EndObject();
  return {200, writtenText(buffer)};
}

EmulatorResponse EmulatorService::projects(const RecordedRequest& request, const std::string& org,
                                           int64_t now) {
  std::string problem = gatewayTokens_.check(request.header("Authorization"), "bearer", now);
  if (!problem.empty()) {
    lastNote_ = "gateway " + problem;
    return errorAnswer(401, "gateway " + problem);
  }
  if (org != options_.org) {
    lastNote_ = "unknown organisation";
    return errorAnswer(404, "unknown organisation " + org);
  }
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
  return {200, writtenText(buffer)};
}
