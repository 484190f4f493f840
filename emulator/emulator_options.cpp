// Command line of the emulator: every option takes one value; numbers are checked.
#include "emulator_options.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>

namespace {

bool parseInteger(const std::string& text, int64_t min, int64_t max, int64_t& out) {
  if (text.empty() || text.size() > 19) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  errno = 0;
  long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (errno != 0 || value < min || value > max) return false;
  out = value;
  return true;
}

bool parseUnsigned(const std::string& text, uint64_t& out) {
  if (text.empty() || text.size() > 20) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  errno = 0;
  unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (errno != 0) return false;
  out = value;
  return true;
}

bool parseIdList(const std::string& text, std::set<int64_t>& out) {
  out.clear();
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
    bool negative = !item.empty() && item[0] == '-';
    int64_t id = 0;
    if (!parseInteger(negative ? item.substr(1) : item, 0, INT64_MAX, id)) return false;
    out.insert(negative ? -id : id);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return true;
}

using Setter = std::function<bool(const std::string&, EmulatorOptions&)>;

Setter text(std::string EmulatorOptions::*field) {
  return [field](const std::string& value, EmulatorOptions& o) {
    o.*field = value;
    return true;
  };
}

Setter number(int64_t EmulatorOptions::*field, int64_t min, int64_t max) {
  return [field, min, max](const std::string& value, EmulatorOptions& o) {
    return parseInteger(value, min, max, o.*field);
  };
}

const std::map<std::string, Setter>& setters() {
  static const std::map<std::string, Setter> table = {
      {"--port",
       [](const std::string& v, EmulatorOptions& o) {
         int64_t port = 0;
         if (!parseInteger(v, 0, 65535, port)) return false;
         o.port = static_cast<int>(port);
         return true;
       }},
      {"--app-key", text(&EmulatorOptions::appKey)},
      {"--app-secret", text(&EmulatorOptions::appSecret)},
      {"--client-id", text(&EmulatorOptions::clientId)},
      {"--client-secret", text(&EmulatorOptions::clientSecret)},
      {"--tenant", text(&EmulatorOptions::tenant)},
      {"--org", text(&EmulatorOptions::org)},
      {"--project-id",
       [](const std::string& v, EmulatorOptions& o) { return parseUnsigned(v, o.projectId); }},
      {"--token-lifetime", number(&EmulatorOptions::tokenLifetime, 1, 100000000)},
      {"--job-duration", number(&EmulatorOptions::jobDuration, 0, 100000000)},
      {"--fail-file-ids",
       [](const std::string& v, EmulatorOptions& o) { return parseIdList(v, o.failFileIds); }},
      {"--drop-connections", number(&EmulatorOptions::dropConnections, 0, 1000000)},
      {"--error-answers", number(&EmulatorOptions::errorAnswers, 0, 1000000)},
      {"--message-bytes", number(&EmulatorOptions::messageBytes, 0, int64_t(1) << 30)},
      {"--log", text(&EmulatorOptions::logPath)},
  };
  return table;
}

}  // namespace

bool parseEmulatorOptions(const std::vector<std::string>& args, EmulatorOptions& options,
                          std::string& error) {
  bool clientIdGiven = false;
  bool clientSecretGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    size_t equals = name.find('=');
    if (equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      error = "option " + name + " needs a value";
      return false;
    }
    auto setter = setters().find(name);
    if (setter == setters().end()) {
      error = "unknown option " + name;
      return false;
    }
    if (!setter->second(value, options)) {
      error = "bad value for " + name + ": " + value;
      return false;
    }
    clientIdGiven = clientIdGiven || name == "--client-id";
    clientSecretGiven = clientSecretGiven || name == "--client-secret";
  }
  if (!clientIdGiven) options.clientId = options.appKey;
  if (!clientSecretGiven) options.clientSecret = options.appSecret;
  return true;
}

std::string emulatorUsage() {
  return "usage: marluneEmulator [--option value]...\n"
         "  --port N              port on 127.0.0.1 (8080; 0 picks a free one)\n"
         "  --app-key TEXT        application key (demo-app-key)\n"
         "  --app-secret TEXT     application secret (demo-app-secret)\n"
         "  --client-id TEXT      gateway client id (the application key)\n"
         "  --client-secret TEXT  gateway client secret (the application secret)\n"
         "  --tenant TEXT         tenant; when set, every service request must be signed\n"
         "  --org TEXT            organisation whose project is known (demo-org)\n"
         "  --project-id N        that organisation's project id (1024)\n"
         "  --token-lifetime S    lifetime of issued tokens in seconds (3600)\n"
         "  --job-duration S      seconds a translate job stays \"processing\" (8)\n"
         "  --fail-file-ids LIST  comma-separated file ids whose jobs fail\n"
         "  --drop-connections N  close the first N connections without answering (0)\n"
         "  --error-answers N     then answer N requests with HTTP 500 (0)\n"
         "  --message-bytes N     pad the translate answer's message to N bytes (0: no padding)\n"
         "  --log PATH            log file (standard error)\n";
}
