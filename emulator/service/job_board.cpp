// The state of the emulated translate jobs.
#include "service/job_board.h"

#include <algorithm>

void JobBoard::follow(std::map<int64_t, std::vector<JobStep>> scripted, int64_t durationSeconds) {
  scripted_ = std::move(scripted);
  durationSeconds_ = durationSeconds;
  queries_.clear();
}

void JobBoard::clear() {
  started_.clear();
  queries_.clear();
}

bool JobBoard::query(int64_t fileId, int64_t nowMillis, std::string& state, std::string& message) {
  state = "processing";
  message = "translation in progress";
  auto scripted = scripted_.find(fileId);
  if (scripted != scripted_.end()) {
    const std::vector<JobStep>& steps = scripted->second;
    const int64_t count = ++queries_[fileId];
    const JobStep& step = steps[static_cast<size_t>(std::min<int64_t>(count, steps.size()) - 1)];
    state = step.status;
    if (state == "success") message = "translation finished";
    if (state == "failed") message = step.message;
    return true;
  }
  auto job = started_.find(fileId);
  if (job == started_.end()) return false;
  if (nowMillis - job->second >= durationSeconds_ * 1000) {
    const bool fails = failing_.count(fileId) != 0;
    state = fails ? "failed" : "success";
    message =
        fails ? "translation failed for file " + std::to_string(fileId) : "translation finished";
  }
  return true;
}
