// Counting requests for the scenario's faults.
#include "service/fault_choice.h"

#include <algorithm>
#include <string>

#include "service/emulator_request.h"

void FaultChoice::follow(std::vector<FaultRule> faults) {
  faults_ = std::move(faults);
  restart();
}

void FaultChoice::restart() {
  endpointRequests_.clear();
  fileRequests_.clear();
}

const FaultRule* FaultChoice::choose(Endpoint endpoint, const RecordedRequest& request) {
  if (endpoint == Endpoint::kNone) return nullptr;
  const int64_t count = ++endpointRequests_[endpoint];
  const std::string name = endpointName(endpoint);
  // A request's file is read, and counted, only where a fault asks for it.
  const bool fileFaults =
      std::any_of(faults_.begin(), faults_.end(),
                  [&name](const FaultRule& rule) { return rule.forFile && rule.endpoint == name; });
  int64_t fileId = 0;
  const bool ofFile =
      fileFaults && ((endpoint == Endpoint::kTranslate && commitFileId(request.body, fileId)) ||
                     (endpoint == Endpoint::kStatus && statusFileId(request.query(), fileId)));
  const int64_t fileCount = ofFile ? ++fileRequests_[{endpoint, fileId}] : 0;
  for (const FaultRule& rule : faults_) {
    if (rule.endpoint != name) continue;
    if (rule.forFile ? ofFile && rule.fileId == fileId && rule.covers(fileCount)
                     : rule.covers(count)) {
      return &rule;
    }
  }
  return nullptr;
}
