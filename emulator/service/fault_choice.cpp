// Counting requests for the scenario's faults, and their draws.
#include "service/fault_choice.h"

#include <algorithm>
#include <string>

#include "service/fault_draws.h"

void FaultChoice::follow(std::vector<FaultRule> faults, uint64_t seed) {
  faults_ = std::move(faults);
  seed_ = seed;
  fileEndpoints_.clear();
  for (Endpoint endpoint : {Endpoint::kTranslate, Endpoint::kStatus}) {
    for (const FaultRule& rule : faults_) {
      if (rule.forFile && rule.endpoint == endpointName(endpoint)) {
        fileEndpoints_.push_back(endpoint);
        break;
      }
    }
  }
  restart();
}

void FaultChoice::restart() {
  endpointRequests_.clear();
  fileRequests_.clear();
  generators_.clear();
  for (size_t i = 0; i < faults_.size(); ++i) generators_.push_back(faultGenerator(seed_, i));
}

ChosenFault FaultChoice::choose(Endpoint endpoint, const RequestFile& file) {
  ChosenFault chosen;
  if (endpoint == Endpoint::kNone) return chosen;
  const int64_t count = ++endpointRequests_[endpoint];
  // Files are counted only where a fault asks for it: the counts grow with the files.
  const bool byFile = file.known && std::find(fileEndpoints_.begin(), fileEndpoints_.end(),
                                              endpoint) != fileEndpoints_.end();
  const int64_t fileCount = byFile ? ++fileRequests_[{endpoint, file.id}] : 0;
  const std::string name = endpointName(endpoint);
  for (size_t i = 0; i < faults_.size(); ++i) {
    const FaultRule& rule = faults_[i];
    if (rule.endpoint != name) continue;
    const bool covered = rule.forFile ? byFile && rule.fileId == file.id && rule.covers(fileCount)
                                      : rule.covers(count);
    if (!covered) continue;
    const bool comesUp = rule.probability >= 1 || unitDraw(generators_[i]) < rule.probability;
    if (!comesUp) continue;
    const int64_t delayMs =
        rule.action == "delay" ? drawDelayMs(rule.delay, rule.amount, generators_[i]) : 0;
    if (chosen.rule == nullptr) chosen = {&rule, delayMs};
  }
  return chosen;
}
