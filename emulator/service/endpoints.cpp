// What each emulated endpoint checks and answers.
#include "service/endpoints.h"

#include "server/local_time.h"
#include "service/emulator_request.h"
#include "service/service_answers.h"

namespace {

// An error answer whose note is its message.
Answered refused(int status, const std::string& message) {
  return Answered(errorAnswer(status, message), message);
}

}  // namespace

Endpoints::Endpoints(const EmulatorOptions& options, EmulatorLog& log, const SecretMask& mask)
    : options_(options),
      log_(log),
      mask_(mask),
      verifier_(options.appKey, options.appSecret, options.tenant),
      tokenLifetime_(options.tokenLifetime),
      jobs_(options.failFileIds) {
  jobs_.follow({}, options.jobDuration);
}

void Endpoints::follow(const Scenario& scenario, int64_t tokenLifetime, int64_t jobDuration) {
  commits_ = scenario.commits;
  tokenLifetime_ = tokenLifetime;
  jobs_.follow(scenario.jobs, jobDuration);
}

void Endpoints::forgetAll() {
  verifier_ = GatewayVerifier(options_.appKey, options_.appSecret, options_.tenant);
  serviceTokens_.clear();
  gatewayTokens_.clear();
  jobs_.clear();
}

Answered Endpoints::answer(const RecordedRequest& request, const Route& route,
                           const RequestFile& file, int64_t now) {
  if (route.endpoint == Endpoint::kNone) {
    return Answered(errorAnswer(404, "no such endpoint: " + request.path()), "no such endpoint");
  }
  if (request.method != route.method) {
    return Answered(errorAnswer(405, "use " + std::string(route.method) + " for " + request.path()),
                    "wrong method");
  }
  // The gateway fronts everything but its own token endpoint; a configured tenant makes
  // the signature mandatory, otherwise only requests that carry gateway lines are checked.
  const bool signedEndpoint = route.endpoint != Endpoint::kGatewayToken;
  if (GatewayVerifier::carriesGatewayHeaders(request) ||
      (signedEndpoint && !options_.tenant.empty())) {
    // The lookup is how a client learns its project, so only it may come without one.
    const bool projectRequired =
        !options_.projectIdOptional && route.endpoint != Endpoint::kProjects;
    const std::string failed =
        verifier_.verify(request, now, std::to_string(options_.projectId), projectRequired);
    if (!failed.empty()) {
      log_.line(mask_.text("gateway check failed: " + failed + " (" + request.method + " " +
                           request.path() + ")"));
      return Answered(errorAnswer(401, "gateway check failed: " + failed), "rejected");
    }
  }
  switch (route.endpoint) {
    case Endpoint::kServiceToken:
      return serviceToken(request, now);
    case Endpoint::kTranslate:
      return translate(request, file, now);
    case Endpoint::kStatus:
      return status(request, file, now);
    case Endpoint::kGatewayToken:
      return gatewayToken(request, now);
    case Endpoint::kProjects:
      return projects(request, route.org, now);
    case Endpoint::kNone:
      break;
  }
  return Answered(errorAnswer(404, "no such endpoint: " + request.path()), "no such endpoint");
}

bool Endpoints::serviceTokenValid(const RecordedRequest& request, int64_t now,
                                  Answered& refusal) const {
  const std::string problem = serviceTokens_.check(request.header("Authorization"), "Bearer", now);
  if (problem.empty()) return true;
  refusal = refused(401, "access " + problem);
  return false;
}

Answered Endpoints::serviceToken(const RecordedRequest& request, int64_t now) {
  const std::string credential = encodeBase64(options_.appKey + ":" + options_.appSecret);
  std::string sent;
  if (!takeCredential(request.header("Authorization"), "Basic", sent) || sent != credential) {
    return Answered(errorAnswer(401, "invalid application key or secret"),
                    "wrong application credential");
  }
  const ParameterMap query = parseRawParameters(request.query());
  auto parameter = query.find("credential");
  if (parameter != query.end() && parameter->second != sent) {
    return Answered(
        errorAnswer(401, "credential parameter does not match the Authorization header"),
        "credential parameter differs");
  }
  const std::string token = serviceTokens_.issue(now, tokenLifetime_);
  const std::string expireTime = localTimeText(serviceTokens_.expiryOf(token) / 1000);
  return Answered({200, envelope("token issued",
                                 [&](JsonWriter& json) {
                                   addString(json, "token", token);
                                   addString(json, "expireTime", expireTime);
                                 })},
                  "token issued, expires " + expireTime, token);
}

Answered Endpoints::translate(const RecordedRequest& request, const RequestFile& file,
                              int64_t now) {
  Answered refusal;
  if (!serviceTokenValid(request, now, refusal)) return refusal;
  const int64_t id = file.id;
  if (!file.known) {
    return Answered(errorAnswer(400, "request body needs an integer source.fileId"), "bad body");
  }
  const std::string name = std::to_string(id);
  auto refusalOfCommit = commits_.find(id);
  if (refusalOfCommit != commits_.end()) {
    rapidjson::StringBuffer buffer;
    JsonWriter json(buffer);
    json.StartObject();
    addString(json, "code", refusalOfCommit->second.code);
    addString(json, "message", refusalOfCommit->second.message);
    json.EndObject();
    return Answered({200, writtenText(buffer)}, "commit for file " + name + " refused");
  }
  jobs_.start(id, now);
  std::string accepted = "translate job accepted for file " + name;
  if (options_.messageBytes > static_cast<int64_t>(accepted.size())) {
    accepted.resize(static_cast<size_t>(options_.messageBytes), '.');
  }
  return Answered({200, envelope(accepted, nullptr)}, "job for file " + name + " started");
}

Answered Endpoints::status(const RecordedRequest& request, const RequestFile& file, int64_t now) {
  Answered refusal;
  if (!serviceTokenValid(request, now, refusal)) return refusal;
  const int64_t id = file.id;
  if (!file.known) {
    return Answered(errorAnswer(400, "an integer fileId parameter is required"), "bad fileId");
  }
  std::string state;
  std::string message;
  if (!jobs_.query(id, now, state, message)) {
    return Answered(errorAnswer(404, "no translate job for file " + std::to_string(id)),
                    "unknown file");
  }
  return Answered(
      {200, envelope(message, [&](JsonWriter& json) { addString(json, "status", state); })},
      "file " + std::to_string(id) + " " + state);
}

Answered Endpoints::gatewayToken(const RecordedRequest& request, int64_t now) {
  // The client posts its form unencoded; a secret holding "&" or "=" only survives a
  // comparison with the whole body.
  const bool exact =
      request.body == "grant_type=client_credentials&client_id=" + options_.clientId +
                          "&client_secret=" + options_.clientSecret;
  // A form of many fields would make a map many times its size: the fields are looked up.
  const auto field = [&request](const char* name) { return rawParameter(request.body, name); };
  if (!exact && field("grant_type") != "client_credentials") {
    return Answered(
        oauthError(400, "unsupported_grant_type", "only client_credentials is supported"),
        "unsupported grant");
  }
  if (!exact && (field("client_id") != options_.clientId ||
                 field("client_secret") != options_.clientSecret)) {
    return Answered(oauthError(401, "invalid_client", "bad client id or secret"),
                    "wrong client credentials");
  }
  const std::string token = gatewayTokens_.issue(now, tokenLifetime_);
  rapidjson::StringBuffer buffer;
  JsonWriter json(buffer);
  json.StartObject();
  addString(json, "access_token", token);
  addString(json, "token_type", "bearer");
  json.Key("expires_in");
  json.Int64(tokenLifetime_);
  json.EndObject();
  return Answered({200, writtenText(buffer)}, "gateway token issued", token);
}

Answered Endpoints::projects(const RecordedRequest& request, const std::string& org, int64_t now) {
  const std::string problem = gatewayTokens_.check(request.header("Authorization"), "bearer", now);
  if (!problem.empty()) return refused(401, "gateway " + problem);
  if (org != options_.org) {
    return Answered(errorAnswer(404, "unknown organisation " + org), "unknown organisation");
  }
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
  return Answered({200, writtenText(buffer)}, "project " + std::to_string(options_.projectId));
}
