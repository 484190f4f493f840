// The emulator's settings and its command line. Every option is described once, in one
// table, which parses it, lists it in --help with its default and names it in the start-up
// description.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

struct EmulatorOptions {
  std::string host = "127.0.0.1";  // the address it listens on
  int port = 8080;                 // 0 picks a free one
  std::string appKey = "demo-app-key";
  std::string appSecret = "demo-app-secret";
  std::string appSecretFile;       // the application secret read from this file
  std::string clientId;            // gateway client id; the application key when not given
  std::string clientSecret;        // gateway client secret; the application secret when not given
  std::string clientSecretFile;    // the client secret read from this file
  std::string tenant;              // empty: service requests need no gateway headers
  bool projectIdOptional = false;  // signed requests may come without "x-project-id"
  std::string org = "demo-org";
  uint64_t projectId = 1024;
  int64_t tokenLifetime = 3600;  // seconds, service and gateway tokens alike
  int64_t jobDuration = 8;       // seconds a translate job reports "processing"
  std::set<int64_t> failFileIds;
  int64_t dropConnections = 0;    // close this many first connections without answering
  int64_t errorAnswers = 0;       // then answer this many requests with HTTP 500
  int64_t messageBytes = 0;       // pad the translate answer's "message" to this size (load tests)
  int64_t keepAliveSeconds = 60;  // how long an idle connection stays open; 0: close after each
  bool closeConnections = false;  // answer every request with "Connection: close"
  std::string tlsCertPath;        // with tlsKeyPath: serve HTTPS
  std::string tlsKeyPath;
  std::string scenarioPath;                 // empty: no scenario
  int64_t journalSize = 10000;              // requests the journal keeps; 0: none
  int64_t journalBytes = 32 * 1024 * 1024;  // memory the journal's entries take at most
  int64_t requestBytes = 32 * 1024 * 1024;  // bytes of requests all connections hold at once
  std::string logPath;                      // empty: standard error
  std::set<std::string> given;              // the options given on the command line, as "--name"
};

// The environment variables that give the secrets where no option does: unlike a command
// line, other local users cannot read them.
extern const char kAppSecretVariable[];     // MARLUNE_EMULATOR_APP_SECRET
extern const char kClientSecretVariable[];  // MARLUNE_EMULATOR_CLIENT_SECRET

// Fills `options` from `args` (program name excluded): "--name value" or "--name=value", or
// "--name" alone for a flag. Each secret comes from its option, else its file option (the
// file's text without one line end at its end), else its environment variable; the client
// secret then from the application secret. False, with the reason in `reason`, on an unknown
// option, a missing, malformed or unexpected value, options that must come together and do
// not or exclude each other, or a secret file that cannot be read or is empty.
bool parseEmulatorOptions(const std::vector<std::string>& args, EmulatorOptions& options,
                          std::string& reason);

// The usage line and one line per option with its default, for --help.
std::string emulatorUsage();

// Every option but the port, the secrets and the log with its value in `options`, for the log:
// "app-key demo-app-key, tenant none, ...".
std::string describeEmulatorOptions(const EmulatorOptions& options);
