// The state of the emulated translate jobs.
#include "service/job_board.h"

void JobBoard::follow(std::map<int64_t, std::vector<JobStep>> scripted, int64_t durationSeconds) {
  scripted_ = std::move(scripted);
  durationSeconds_ = durationSeconds;
  progress_.clear();
}

void JobBoard::clear() {
  started_.clear();
  progress_.clear();
}

const JobStep& JobBoard::stepAt(const std::vector<JobStep>& steps, Progress& progress,
                                int64_t nowMillis) {
  for (;;) {
    const JobStep& step = steps[progress.step];
    const bool last = progress.step + 1 == steps.size();
    if (step.seconds == 0) {
      if (!last) progress = {progress.step + 1, -1};
      return step;
    }
    if (progress.since < 0) progress.since = nowMillis;
    const int64_t ends = progress.since + step.seconds * 1000;
    if (nowMillis < ends || last) return step;
    progress = {progress.step + 1, ends};  // the next step begins as this one ends
  }
}

bool JobBoard::query(int64_t fileId, int64_t nowMillis, std::string& state, std::string& message) {
  state = "processing";
  message = "translation in progress";
  auto scripted = scripted_.find(fileId);
  if (scripted != scripted_.end()) {
    const JobStep& step = stepAt(scripted->second, progress_[fileId], nowMillis);
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
