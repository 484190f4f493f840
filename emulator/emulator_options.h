// The emulator's settings and the parsing of its command line.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

struct EmulatorOptions {
  int port = 8080;  // 0 picks a free one
  std::string appKey = "demo-app-key";
  std::string appSecret = "demo-app-secret";
  std::string clientId;      // gateway client id; the application key when not given
  std::string clientSecret;  // gateway client secret; the application secret when not given
  std::string tenant;        // empty: service requests need no gateway headers
  std::string org = "demo-org";
  uint64_t projectId = 1024;
  int64_t tokenLifetime = 3600;  // seconds, service and gateway tokens alike
  int64_t jobDuration = 8;       // seconds a translate job reports "processing"
  std::set<int64_t> failFileIds;
  int64_t dropConnections = 0;  // close this many first connections without answering
  int64_t errorAnswers = 0;     // then answer this many requests with HTTP 500
  int64_t messageBytes = 0;     // pad the translate answer's "message" to this size (load tests)
  std::string logPath;          // empty: standard error
};

// Fills `options` from `args` (program name excluded), "--name value" or "--name=value".
// False with the reason in `error` on an unknown option, a missing or malformed value.
bool parseEmulatorOptions(const std::vector<std::string>& args, EmulatorOptions& options,
                          std::string& error);

// One line per option with its default, for --help and for errors.
std::string emulatorUsage();
