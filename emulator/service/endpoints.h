// The emulated endpoints behind the gateway: the service token, translate and status, the
// gateway token and the organisation's projects. Each check of a request, the gateway's
// included, and each answer, with the note its log line gives. Not thread-safe: the service
// keeps it under its lock.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "server/emulator_log.h"
#include "server/recorded_request.h"
#include "service/answered.h"
#include "service/emulator_options.h"
#include "service/gateway_verifier.h"
#include "service/job_board.h"
#include "service/routes.h"
#include "service/scenario.h"
#include "service/secret_mask.h"
#include "service/token_store.h"

class Endpoints {
 public:
  // `options`, `log` and `mask` must outlive the endpoints; the log gets a line for each
  // failed gateway check, with what `mask` hides masked.
  Endpoints(const EmulatorOptions& options, EmulatorLog& log, const SecretMask& mask);

  // Answers with the scenario's jobs and commits from now on, tokens lasting `tokenLifetime`
  // seconds and unscripted jobs `jobDuration`; status queries are counted again.
  void follow(const Scenario& scenario, int64_t tokenLifetime, int64_t jobDuration);

  // Forgets every token, job, used nonce and counted query.
  void forgetAll();

  // The answer at `now` (milliseconds) to `request`, whose path has `route` and which names
  // `file`: a wrong method, a failed gateway check, or what the endpoint says.
  Answered answer(const RecordedRequest& request, const Route& route, const RequestFile& file,
                  int64_t now);

  // How many issued tokens are kept, service and gateway ones together.
  size_t keptTokens() const { return serviceTokens_.size() + gatewayTokens_.size(); }

 private:
  // True when `request` carries a service token valid at `now`; otherwise `refusal` says why.
  bool serviceTokenValid(const RecordedRequest& request, int64_t now, Answered& refusal) const;

  Answered serviceToken(const RecordedRequest& request, int64_t now);
  Answered translate(const RecordedRequest& request, const RequestFile& file, int64_t now);
  Answered status(const RecordedRequest& request, const RequestFile& file, int64_t now);
  Answered gatewayToken(const RecordedRequest& request, int64_t now);
  Answered projects(const RecordedRequest& request, const std::string& org, int64_t now);

  const EmulatorOptions& options_;
  EmulatorLog& log_;
  const SecretMask& mask_;
  GatewayVerifier verifier_;
  std::map<int64_t, CommitRefusal> commits_;
  int64_t tokenLifetime_;  // seconds
  TokenStore serviceTokens_{"svc-"};
  TokenStore gatewayTokens_{"gw-"};
  JobBoard jobs_;
};
