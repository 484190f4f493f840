// Reading scenario files: every member is checked, and a mistake is named where it is.
#include "service/scenario.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

#include "util/ascii.h"
#include "util/json.h"

namespace {

using rapidjson::Value;

const char* const kEndpoints[] = {"token", "translate", "status", "gatewaytoken", "projects"};

bool getInteger(const Value& object, const char* name, int64_t min, int64_t max, int64_t& out) {
  const Value* value = findMember(object, name);
  if (value == nullptr || !value->IsInt64()) return false;
  if (value->GetInt64() < min || value->GetInt64() > max) return false;
  out = value->GetInt64();
  return true;
}

// Any JSON number, integers included, read as a double.
bool getNumber(const Value& object, const char* name, double min, double max, double& out) {
  const Value* value = findMember(object, name);
  const bool inRange = value != nullptr && value->IsNumber() && value->GetDouble() >= min &&
                       value->GetDouble() <= max;
  if (inRange) out = value->GetDouble();
  return inRange;
}

bool readStep(const Value& value, JobStep& step) {
  if (value.IsString()) {
    step.status = value.GetString();
    return step.status == "processing" || step.status == "success";
  }
  if (!getStringMember(value, "status", step.status)) return false;
  if (step.status == "failed" && !getStringMember(value, "message", step.message)) return false;
  if (step.status != "processing" && step.status != "success" && step.status != "failed") {
    return false;
  }
  return findMember(value, "seconds") == nullptr ||
         getInteger(value, "seconds", 1, 100000000, step.seconds);
}

// The file id of a member named `name` of the object `section`, not yet in `seen`.
template <typename Map>
bool takeFileId(const char* section, const std::string& name, const Map& seen, int64_t& id,
                std::string& reason) {
  if (parseFileId(name, id) && seen.count(id) == 0) return true;
  reason = "\"" + std::string(section) + "\": \"" + name + "\" is no file id, or one given twice";
  return false;
}

bool readJobs(const Value& jobs, Scenario& scenario, std::string& reason) {
  if (!jobs.IsObject()) return (reason = "\"jobs\" must be an object"), false;
  for (const auto& member : jobs.GetObject()) {
    const std::string name = member.name.GetString();
    int64_t id = 0;
    if (!takeFileId("jobs", name, scenario.jobs, id, reason)) return false;
    const Value& steps = member.value;
    if (!steps.IsArray() || steps.Empty()) {
      reason = "\"jobs\" \"" + name + "\": needs an array of steps";
      return false;
    }
    std::vector<JobStep>& list = scenario.jobs[id];
    for (const Value& value : steps.GetArray()) {
      JobStep step;
      if (!readStep(value, step)) {
        reason = "\"jobs\" \"" + name + "\": step " + std::to_string(list.size() + 1) +
                 " must be \"processing\", \"success\" or {\"status\": \"failed\", \"message\": "
                 "TEXT}, or an object of a status with \"seconds\" (1 or more)";
        return false;
      }
      list.push_back(step);
    }
  }
  return true;
}

bool readCommits(const Value& commits, Scenario& scenario, std::string& reason) {
  if (!commits.IsObject()) return (reason = "\"commits\" must be an object"), false;
  for (const auto& member : commits.GetObject()) {
    const std::string name = member.name.GetString();
    int64_t id = 0;
    if (!takeFileId("commits", name, scenario.commits, id, reason)) return false;
    CommitRefusal refusal;
    if (!getStringMember(member.value, "code", refusal.code) ||
        !getStringMember(member.value, "message", refusal.message)) {
      reason = "\"commits\" \"" + name + "\": needs {\"code\": TEXT, \"message\": TEXT}";
      return false;
    }
    scenario.commits[id] = refusal;
  }
  return true;
}

// True when `name` is an HTTP token, as a header name must be.
bool isHeaderToken(const std::string& name) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    const bool letterOrDigit =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!letterOrDigit && (c == 0 || std::strchr("!#$%&'*+-.^_`|~", c) == nullptr)) {
      return false;
    }
  }
  return true;
}

// The header lines of a status fault: names that are tokens, values of one line, none that
// the emulator sets itself.
bool readHeaders(const Value& headers, FaultRule& rule) {
  if (!headers.IsObject()) return false;
  for (const auto& member : headers.GetObject()) {
    const std::string name(member.name.GetString(), member.name.GetStringLength());
    if (!member.value.IsString() || !isHeaderToken(name)) return false;
    const std::string value(member.value.GetString(), member.value.GetStringLength());
    if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) return false;
    for (const char* own :
         {"Content-Length", "Content-Type", "Transfer-Encoding", "Connection", "Keep-Alive"}) {
      if (equalsIgnoreCase(name, own)) return false;
    }
    rule.headers.emplace_back(name, value);
  }
  return true;
}

// A delay's "delay" object: a uniform or lognormal distribution of milliseconds.
bool readDistribution(const Value& delay, DelayDistribution& drawn) {
  const double maxMs = std::numeric_limits<int32_t>::max();
  std::string kind;
  if (!getStringMember(delay, "distribution", kind) || delay.MemberCount() != 3) return false;
  if (kind == "uniform") {
    drawn.kind = DelayDistribution::Kind::kUniform;
    return getNumber(delay, "lowerMs", 0, maxMs, drawn.lowerMs) &&
           getNumber(delay, "upperMs", drawn.lowerMs, maxMs, drawn.upperMs);
  }
  drawn.kind = DelayDistribution::Kind::kLognormal;
  return kind == "lognormal" && getNumber(delay, "medianMs", 0, maxMs, drawn.medianMs) &&
         getNumber(delay, "sigma", 0, 10, drawn.sigma);
}

bool readDelay(const Value& value, FaultRule& rule) {
  const int64_t maxInt = std::numeric_limits<int32_t>::max();
  const Value* delay = findMember(value, "delay");
  if ((delay != nullptr) == (findMember(value, "ms") != nullptr)) return false;
  return delay != nullptr ? delay->IsObject() && readDistribution(*delay, rule.delay)
                          : getInteger(value, "ms", 0, maxInt, rule.amount);
}

// The action's own members; false with what is missing in `reason`.
bool readAction(const Value& value, FaultRule& rule, std::string& reason) {
  const int64_t maxInt = std::numeric_limits<int32_t>::max();
  if (rule.action == "drop" || rule.action == "garbage") return true;
  if (rule.action == "status") {
    int64_t status = 0;
    // Statuses that carry no body, and interim ones, would not be HTTP with a body after them.
    if (!getInteger(value, "status", 200, 599, status) || status == 204 || status == 304 ||
        !getStringMember(value, "body", rule.body)) {
      reason = "\"status\" needs \"status\" (200-599, not 204 or 304) and \"body\" (TEXT)";
      return false;
    }
    rule.status = static_cast<int>(status);
    const Value* headers = findMember(value, "headers");
    if (headers == nullptr || readHeaders(*headers, rule)) return true;
    reason =
        "\"headers\" must be an object of header names to one-line texts, without the "
        "lines the emulator sets itself";
    return false;
  }
  if (rule.action == "delay") {
    if (readDelay(value, rule)) return true;
    reason =
        "\"delay\" needs \"ms\" (0 or more) or \"delay\": "
        "{\"distribution\": \"uniform\", \"lowerMs\", \"upperMs\"} or "
        "{\"distribution\": \"lognormal\", \"medianMs\", \"sigma\" (0 to 10)}";
    return false;
  }
  if (rule.action == "drip") {
    if (getInteger(value, "bytesPerSecond", 1, maxInt, rule.amount)) return true;
    return (reason = "\"drip\" needs \"bytesPerSecond\" (1 or more)"), false;
  }
  reason = "\"action\" must be drop, garbage, status, delay or drip";
  return false;
}

bool readFault(const Value& value, FaultRule& rule, std::string& reason) {
  if (!getStringMember(value, "endpoint", rule.endpoint)) {
    return (reason = "needs \"endpoint\""), false;
  }
  bool known = false;
  for (const char* endpoint : kEndpoints) known = known || rule.endpoint == endpoint;
  if (!known) {
    reason = "\"endpoint\" must be token, translate, status, gatewaytoken or projects";
    return false;
  }
  const int64_t maxCount = std::numeric_limits<int32_t>::max();
  if (!getInteger(value, "request", 1, maxCount, rule.request)) {
    return (reason = "needs \"request\" (1 or more)"), false;
  }
  if (findMember(value, "every") != nullptr &&
      !getInteger(value, "every", 1, maxCount, rule.every)) {
    return (reason = "\"every\" must be 1 or more"), false;
  }
  if (findMember(value, "probability") != nullptr &&
      !getNumber(value, "probability", 0, 1, rule.probability)) {
    return (reason = "\"probability\" must be a number from 0 to 1"), false;
  }
  // A fault by rhythm or chance goes on for good unless it is told how long.
  const bool open =
      findMember(value, "every") != nullptr || findMember(value, "probability") != nullptr;
  if (open) rule.times = std::numeric_limits<int64_t>::max();
  if (findMember(value, "times") != nullptr &&
      !getInteger(value, "times", 1, maxCount, rule.times)) {
    return (reason = "\"times\" must be 1 or more"), false;
  }
  if (findMember(value, "fileId") != nullptr) {
    std::string text;
    rule.forFile = getStringMember(value, "fileId", text) && parseFileId(text, rule.fileId);
    if (!rule.forFile || (rule.endpoint != "translate" && rule.endpoint != "status")) {
      return (reason = "\"fileId\" must be a file id as text, for translate or status"), false;
    }
  }
  if (!getStringMember(value, "action", rule.action)) return (reason = "needs \"action\""), false;
  return readAction(value, rule, reason);
}

bool readFaults(const Value& faults, Scenario& scenario, std::string& reason) {
  if (!faults.IsArray()) return (reason = "\"faults\" must be an array"), false;
  for (const Value& value : faults.GetArray()) {
    FaultRule rule;
    if (!value.IsObject() || !readFault(value, rule, reason)) {
      reason = "\"faults\" " + std::to_string(scenario.faults.size() + 1) + ": " +
               (reason.empty() ? "must be an object" : reason);
      return false;
    }
    scenario.faults.push_back(rule);
  }
  return true;
}

}  // namespace

bool parseScenario(const std::string& text, Scenario& scenario, std::string& reason) {
  scenario = Scenario();
  reason.clear();
  rapidjson::Document doc;
  if (!parseJson(text, doc) || !doc.IsObject()) {
    reason = "a scenario must be one JSON object";
    return false;
  }
  for (const auto& member : doc.GetObject()) {
    const std::string name = member.name.GetString();
    const Value& value = member.value;
    bool read = true;
    if (name == "jobs") {
      read = readJobs(value, scenario, reason);
    } else if (name == "commits") {
      read = readCommits(value, scenario, reason);
    } else if (name == "faults") {
      read = readFaults(value, scenario, reason);
    } else if (name == "tokenLifetime") {
      read = getInteger(doc, "tokenLifetime", 1, 100000000, scenario.tokenLifetime);
      if (!read) reason = "\"tokenLifetime\" must be 1 to 100000000 seconds";
    } else if (name == "seed") {
      int64_t seed = 0;
      read = scenario.seeded =
          getInteger(doc, "seed", 0, std::numeric_limits<int64_t>::max(), seed);
      scenario.seed = static_cast<uint64_t>(seed);
      if (!read) reason = "\"seed\" must be a whole number from 0 to 9223372036854775807";
    } else if (name == "jobDuration") {
      read = getInteger(doc, "jobDuration", 0, 100000000, scenario.jobDuration);
      if (!read) reason = "\"jobDuration\" must be 0 to 100000000 seconds";
    } else {
      reason = "unknown member \"" + name + "\"";
      read = false;
    }
    if (!read) return false;
  }
  return true;
}

bool loadScenarioFile(const std::string& path, Scenario& scenario, std::string& reason) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    reason = "cannot read scenario file " + path;
    return false;
  }
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (parseScenario(text, scenario, reason)) return true;
  reason = "scenario file " + path + ": " + reason;
  return false;
}
