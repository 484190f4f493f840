// The emulated service and API gateway behind one request handler: it routes each request to
// the admin interface under /__emulator/ or to the endpoints, applies the scenario's faults
// and the injected drops and errors (answered with a delivery that the HTTP server carries
// out), and logs and journals what became of it.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "server/emulator_log.h"
#include "service/emulator_options.h"
#include "service/endpoints.h"
#include "service/fault_choice.h"
#include "service/journal.h"
#include "service/scenario.h"
#include "service/secret_mask.h"

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
  EmulatorResponse admin(const RecordedRequest& request);
  // The answer to GET /__emulator/requests with `query`; `note` gets its log note.
  EmulatorResponse readJournal(const std::string& query, std::string& note);
  void applyScenario(const Scenario& scenario);
  void resetState();
  // The answer as `fault` (nullptr: none) makes it; `outcome` gets what the log line says
  // instead of a status, when there is no answer.
  Answered answerWithFault(const RecordedRequest& request, const Route& route,
                           const RequestFile& file, const ChosenFault& fault, int64_t now,
                           std::string& outcome);

  const EmulatorOptions options_;
  EmulatorLog& log_;
  const Clock clock_;
  const SecretMask mask_;

  std::mutex mutex_;
  Endpoints endpoints_;
  FaultChoice faults_;
  Journal journal_;
  int64_t dropsLeft_;
  int64_t errorsLeft_;
};
