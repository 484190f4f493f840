// Counting requests for the scenario's faults.
#include "service/fault_choice.h"

#include <string>

void FaultChoice::follow(std::vector<FaultRule> faults) {
  faults_ = std::move(faults);
  restart();
}

void FaultChoice::restart() {
  endpointRequests_.clear();
  fileRequests_.clear();
}

const FaultRule* FaultChoice::choose(Endpoint endpoint, const RequestFile& file) {
  if (endpoint == Endpoint::kNone) return nullptr;
  const int64_t count = ++endpointRequests_[endpoint];
  const int64_t fileCount = file.known ? ++fileRequests_[{endpoint, file.id}] : 0;
  const std::string name = endpointName(endpoint);
  for (const FaultRule& rule : faults_) {
    if (rule.endpoint != name) continue;
    if (rule.forFile ? file.known && rule.fileId == file.id && rule.covers(fileCount)
                     : rule.covers(count)) {
      return &rule;
    }
  }
  return nullptr;
}
