// The emulated service and API gateway behind one request handler: the service token,
// translate and status endpoints, the gateway token and organisation endpoints, the
// gateway checks, the scenario's scripted answers and injected faults (answered with a
// delivery that the HTTP server carries out), the request journal and the admin interface
// under /__emulator/ that reads and resets them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "server/emulator_log.h"
#include "service/emulator_options.h"
#include "service/emulator_request.h"
#include "service/gateway_verifier.h"
#include "service/job_board.h"
#include "service/journal.h"
#include "service/scenario.h"
#include "service/token_store.h"

class EmulatorService {
 public:
  // Milliseconds since 1970-01-01 00:00:00 UTC.
  using Clock = std::function<int64_t()>;
  static int64_t systemMillis();

  // `log` must outlive the service.
  EmulatorService(const EmulatorOptions& options, EmulatorLog& log, Clock clock = systemMillis);

  // The answer to one request that came as `arrival` says; logs it, and each failed gateway
  // check, and journals it unless it is an admin request. While connections are left to
  // drop, the first request of a connection is answered by dropping it. Thread-safe.
  EmulatorResponse handle(const RecordedRequest& request, const Arrival& arrival = Arrival());

  // Follows `scenario` from now on, its fault and status query counts starting again;
  // options given on the command line still win over its lifetimes. Thread-safe.
  void useScenario(const Scenario& scenario);

  // How many issued tokens are kept, service and gateway ones together. Thread-safe.
  size_t keptTokens();

 private:
  enum class Endpoint { kServiceToken, kTranslate, kStatus, kGatewayToken, kProjects, kNone };
  struct Routed {
    Endpoint endpoint = Endpoint::kNone;
    const char* method = "";
    std::string org;  // for kProjects
  };
  static Routed route(const std::string& path);
  static const char* endpointName(Endpoint endpoint);

  EmulatorResponse admin(const RecordedRequest& request);
  void applyScenario(const Scenario& scenario);
  void resetState();
  // The fault of the scenario for this request of `endpoint`, counted among the endpoint's
  // requests and, where a fault names a file, a translate or status request among its file's;
  // nullptr when none.
  const FaultRule* countFault(Endpoint endpoint, const RecordedRequest& request);
  JournalEntry journalEntry(const RecordedRequest& request, int64_t now) const;

  // The answer as `fault` (nullptr: none) makes it; `outcome` gets what the log line says
  // instead of a status, when there is no answer.
  EmulatorResponse answerWithFault(const RecordedRequest& request, const FaultRule* fault,
                                   int64_t now, std::string& outcome);
  EmulatorResponse answer(const RecordedRequest& request, int64_t now);
  EmulatorResponse serviceToken(const RecordedRequest& request, int64_t now);
  EmulatorResponse translate(const RecordedRequest& request, int64_t now);
  EmulatorResponse status(const RecordedRequest& request, int64_t now);
  EmulatorResponse gatewayToken(const RecordedRequest& request, int64_t now);
  EmulatorResponse projects(const RecordedRequest& request, const std::string& org, int64_t now);

  const EmulatorOptions options_;
  EmulatorLog& log_;
  const Clock clock_;

  std::mutex mutex_;
  Scenario scenario_;
  int64_t tokenLifetime_;  // seconds, from the options or the scenario
  int64_t jobDuration_;
  std::map<Endpoint, int64_t> endpointRequests_;                  // for the scenario's faults
  std::map<std::pair<Endpoint, int64_t>, int64_t> fileRequests_;  // by file id, the same
  Journal journal_;
  GatewayVerifier verifier_;
  int64_t dropsLeft_;
  int64_t errorsLeft_;
  TokenStore serviceTokens_{"svc-"};
  TokenStore gatewayTokens_{"gw-"};
  JobBoard jobs_;
  std::string lastNote_;     // what the current answer said, for the log
  std::string issuedToken_;  // a token the current answer hands out, masked in the journal
};
