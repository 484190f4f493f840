// Which of the scenario's faults a request meets: each request of an endpoint is counted, and
// each translate or status request of its file too; a fault covers the requests of its range
// and rhythm, each with its chance, drawn from its own generator. Not thread-safe: the service
// keeps it under its lock.
#pragma once

#include <cstdint>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "service/routes.h"
#include "service/scenario.h"

// The fault a request meets (none when `rule` is null) and the delay it drew.
struct ChosenFault {
  const FaultRule* rule = nullptr;
  int64_t delayMs = 0;
};

class FaultChoice {
 public:
  // Chooses among `faults` from now on with draws from `seed`, every count starting again.
  void follow(std::vector<FaultRule> faults, uint64_t seed);

  // Starts every count again, and the draws from the seed.
  void restart();

  // Counts a request of `endpoint` about `file`; the first fault that covers it and whose
  // chance came up. Every fault that covers it draws, whichever applies.
  ChosenFault choose(Endpoint endpoint, const RequestFile& file);

 private:
  std::vector<FaultRule> faults_;
  uint64_t seed_ = 0;
  std::vector<std::mt19937_64> generators_;  // one a fault
  std::vector<Endpoint> fileEndpoints_;      // those with a fault for a file: counted by file
  std::map<Endpoint, int64_t> endpointRequests_;
  std::map<std::pair<Endpoint, int64_t>, int64_t> fileRequests_;  // by file id
};
