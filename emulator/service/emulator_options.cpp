// Command line of the emulator: one table of options, each with its parser, its help line and
// the way its value is shown; numbers are checked.
#include "service/emulator_options.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <functional>

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

std::string orNone(const std::string& text) { return text.empty() ? "none" : text; }

using Setter = std::function<bool(const std::string& value, EmulatorOptions&)>;
using Shower = std::function<std::string(const EmulatorOptions&)>;

struct Option {
  const char* name;
  const char* value;  // what the value is, in --help; nullptr for a flag, which takes none
  const char* help;
  Setter set;
  Shower show;
  const char* defaultText = nullptr;  // in --help instead of the default's shown value
  bool described = true;              // false: kept out of the start-up description
};

Option text(const char* name, const char* help, std::string EmulatorOptions::*field) {
  return {name, "TEXT", help,
          [field](const std::string& value, EmulatorOptions& o) {
            o.*field = value;
            return true;
          },
          [field](const EmulatorOptions& o) { return orNone(o.*field); }};
}

Option number(const char* name, const char* value, const char* help,
              int64_t EmulatorOptions::*field, int64_t min, int64_t max) {
  return {name, value, help,
          [field, min, max](const std::string& text, EmulatorOptions& o) {
            return parseInteger(text, min, max, o.*field);
          },
          [field](const EmulatorOptions& o) { return std::to_string(o.*field); }};
}

Option flag(const char* name, const char* help, bool EmulatorOptions::*field) {
  return {name, nullptr, help,
          [field](const std::string&, EmulatorOptions& o) {
            o.*field = true;
            return true;
          },
          [field](const EmulatorOptions& o) { return std::string(o.*field ? "yes" : "no"); }};
}

Option defaulting(Option option, const char* defaultText) {
  option.defaultText = defaultText;
  return option;
}

Option undescribed(Option option) {
  option.described = false;
  return option;
}

Option withValueName(Option option, const char* value) {
  option.value = value;
  return option;
}

const std::vector<Option>& optionTable() {
  using O = EmulatorOptions;
  static const std::vector<Option> table = {
      undescribed(
          withValueName(text("--host",
                             "address to listen on; another than a loopback one is reachable from "
                             "other machines",
                             &O::host),
                        "ADDRESS")),
      undescribed({"--port", "N", "port; 0 picks a free one",
                   [](const std::string& v, O& o) {
                     int64_t port = 0;
                     if (!parseInteger(v, 0, 65535, port)) return false;
                     o.port = static_cast<int>(port);
                     return true;
                   },
                   [](const O& o) { return std::to_string(o.port); }}),
      text("--app-key", "application key", &O::appKey),
      undescribed(text("--app-secret", "application secret", &O::appSecret)),
      undescribed(
          withValueName(text("--app-secret-file", "read the application secret from this file",
                             &O::appSecretFile),
                        "FILE")),
      defaulting(text("--client-id", "gateway client id", &O::clientId), "the application key"),
      undescribed(defaulting(text("--client-secret", "gateway client secret", &O::clientSecret),
                             "the application secret")),
      undescribed(
          withValueName(text("--client-secret-file",
                             "read the gateway client secret from this file", &O::clientSecretFile),
                        "FILE")),
      text("--tenant", "tenant; when set, every service request must be signed", &O::tenant),
      flag("--project-id-optional",
           "let signed requests come without x-project-id (by default only the project lookup "
           "may)",
           &O::projectIdOptional),
      text("--org", "organisation whose project is known", &O::org),
      {"--project-id", "N", "that organisation's project id",
       [](const std::string& v, O& o) { return parseUnsigned(v, o.projectId); },
       [](const O& o) { return std::to_string(o.projectId); }},
      number("--token-lifetime", "S", "lifetime of issued tokens in seconds", &O::tokenLifetime, 1,
             100000000),
      number("--job-duration", "S", "seconds a translate job stays \"processing\"", &O::jobDuration,
             0, 100000000),
      {"--fail-file-ids", "LIST", "comma-separated file ids whose jobs fail",
       [](const std::string& v, O& o) { return parseIdList(v, o.failFileIds); },
       [](const O& o) {
         std::string list;
         for (int64_t id : o.failFileIds) list += (list.empty() ? "" : ",") + std::to_string(id);
         return orNone(list);
       }},
      number("--drop-connections", "N", "close the first N connections without answering",
             &O::dropConnections, 0, 1000000),
      number("--error-answers", "N", "then answer N requests with HTTP 500", &O::errorAnswers, 0,
             1000000),
      defaulting(number("--message-bytes", "N", "pad the translate answer's message to N bytes",
                        &O::messageBytes, 0, int64_t(1) << 30),
                 "0: no padding"),
      number("--keep-alive", "S", "seconds an idle connection stays open (0: close after each)",
             &O::keepAliveSeconds, 0, 100000000),
      flag("--close-connections", "answer with \"Connection: close\" and close, every time",
           &O::closeConnections),
      withValueName(
          text("--tls-cert", "serve HTTPS with this PEM certificate (chain)", &O::tlsCertPath),
          "FILE"),
      withValueName(text("--tls-key", "the PEM private key of that certificate", &O::tlsKeyPath),
                    "FILE"),
      withValueName(
          text("--scenario", "scripted jobs, refused commits and faults (JSON)", &O::scenarioPath),
          "FILE"),
      number("--journal-size", "N", "requests the journal keeps (0: none)", &O::journalSize, 0,
             100000000),
      number("--journal-bytes", "N", "bytes of memory the journal's entries take at most",
             &O::journalBytes, 0, int64_t(1) << 40),
      number("--request-bytes", "N",
             "bytes of requests all connections hold at once (a request over it gets 413)",
             &O::requestBytes, 65536, int64_t(1) << 40),
      undescribed(defaulting(withValueName(text("--log", "log file", &O::logPath), "PATH"),
                             "standard error")),
  };
  return table;
}

const Option* find(const std::string& name) {
  for (const Option& option : optionTable()) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

// Name and value of args[i], the value taken from the next argument when the option needs
// one; i moves past what was used.
bool takeOption(const std::vector<std::string>& args, size_t& i, const Option*& option,
                std::string& value, std::string& reason) {
  std::string name = args[i];
  size_t equals = name.find('=');
  bool inlineValue = equals != std::string::npos;
  if (inlineValue) {
    value = name.substr(equals + 1);
    name = name.substr(0, equals);
  }
  option = find(name);
  if (option == nullptr) {
    reason = "unknown option " + name;
    return false;
  }
  if (option->value == nullptr) {
    if (inlineValue) reason = "option " + name + " takes no value";
    return !inlineValue;
  }
  if (!inlineValue && i + 1 >= args.size()) {
    reason = "option " + name + " needs a value";
    return false;
  }
  if (!inlineValue) value = args[++i];
  return true;
}

// The text of the secret file at `path` without one line end at its end; false with the reason
// when it cannot be read, holds nothing else, or more than kMaxSecretBytes.
bool readSecretFile(const std::string& path, std::string& secret, std::string& reason) {
  const size_t kMaxSecretBytes = 4096;
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    reason = "cannot read the secret file " + path;
    return false;
  }
  secret.assign(kMaxSecretBytes + 2, '\0');  // room for a line end after the longest
  file.read(&secret[0], static_cast<std::streamsize>(secret.size()));
  secret.resize(static_cast<size_t>(file.gcount()));
  if (!secret.empty() && secret.back() == '\n') secret.pop_back();
  if (!secret.empty() && secret.back() == '\r') secret.pop_back();
  if (secret.empty() || secret.size() > kMaxSecretBytes) {
    reason = "the secret file " + path + " is empty or longer than 4096 bytes";
    return false;
  }
  return true;
}

// `secret` from the option `name` when given, else from the file of `name`-file, else from
// `variable`; unchanged when none gives it, and then `given` is false.
bool takeSecret(const EmulatorOptions& options, const std::string& name, const std::string& file,
                const char* variable, std::string& secret, bool& given, std::string& reason) {
  const bool fromOption = options.given.count(name) != 0;
  const bool fromFile = options.given.count(name + "-file") != 0;
  const char* fromEnvironment = std::getenv(variable);
  given = fromOption || fromFile || (fromEnvironment != nullptr && *fromEnvironment != '\0');
  if (fromOption && fromFile) {
    reason = "options " + name + " and " + name + "-file exclude each other";
    return false;
  }
  if (fromFile) return readSecretFile(file, secret, reason);
  if (!fromOption && given) secret = fromEnvironment;
  return true;
}

}  // namespace

const char kAppSecretVariable[] = "MARLUNE_EMULATOR_APP_SECRET";
const char kClientSecretVariable[] = "MARLUNE_EMULATOR_CLIENT_SECRET";

bool parseEmulatorOptions(const std::vector<std::string>& args, EmulatorOptions& options,
                          std::string& reason) {
  for (size_t i = 0; i < args.size(); ++i) {
    const Option* option = nullptr;
    std::string value;
    if (!takeOption(args, i, option, value, reason)) return false;
    if (!option->set(value, options)) {
      reason = "bad value for " + std::string(option->name) + ": " + value;
      return false;
    }
    options.given.insert(option->name);
  }
  if (options.tlsCertPath.empty() != options.tlsKeyPath.empty()) {
    reason = "options --tls-cert and --tls-key go together";
    return false;
  }
  bool given = false;
  if (!takeSecret(options, "--app-secret", options.appSecretFile, kAppSecretVariable,
                  options.appSecret, given, reason) ||
      !takeSecret(options, "--client-secret", options.clientSecretFile, kClientSecretVariable,
                  options.clientSecret, given, reason)) {
    return false;
  }
  if (!given) options.clientSecret = options.appSecret;
  if (options.given.count("--client-id") == 0) options.clientId = options.appKey;
  return true;
}

std::string emulatorUsage() {
  const EmulatorOptions defaults;
  std::string text =
      "usage: marluneEmulator [--option value | --flag]...\n"
      "       marluneEmulator --help | --version\n";
  for (const Option& option : optionTable()) {
    std::string left = std::string("  ") + option.name;
    if (option.value != nullptr) left += std::string(" ") + option.value;
    left.resize(left.size() < 26 ? 26 : left.size() + 1, ' ');
    text += left + option.help;
    if (option.value != nullptr) {
      text += " (" + (option.defaultText ? option.defaultText : option.show(defaults)) + ")";
    }
    text += "\n";
  }
  return text;
}

std::string describeEmulatorOptions(const EmulatorOptions& options) {
  std::string text;
  for (const Option& option : optionTable()) {
    if (!option.described) continue;
    if (!text.empty()) text += ", ";
    text += std::string(option.name + 2) + " " + option.show(options);
  }
  return text;
}
