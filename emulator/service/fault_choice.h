// Which of the scenario's faults a request meets: each request of an endpoint is counted, and
// where a fault names a file, each translate or status request of that file too. Not
// thread-safe: the service keeps it under its lock.
#pragma once

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "service/routes.h"
#include "service/scenario.h"

class FaultChoice {
 public:
  // Chooses among `faults` from now on, every count starting again.
  void follow(std::vector<FaultRule> faults);

  // Starts every count again.
  void restart();

  // Counts a request of `endpoint` about `file`; the first fault that covers it, or nullptr.
  const FaultRule* choose(Endpoint endpoint, const RequestFile& file);

 private:
  std::vector<FaultRule> faults_;
  std::map<Endpoint, int64_t> endpointRequests_;
  std::map<std::pair<Endpoint, int64_t>, int64_t> fileRequests_;  // by file id
};
