// The translate jobs the emulator knows: each started by a commit and "processing" for the
// job duration, then "success" ("failed" for the chosen files); or, for a file the scenario
// scripts, its steps in turn, each for one status query or for its seconds from the first
// query that got it, the last one repeating. Not thread-safe: the service keeps it under its
// lock.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "service/scenario.h"

class JobBoard {
 public:
  explicit JobBoard(std::set<int64_t> failingFiles) : failing_(std::move(failingFiles)) {}

  // Follows `scripted` from now on, with jobs lasting `durationSeconds`; status queries are
  // counted again from the first step.
  void follow(std::map<int64_t, std::vector<JobStep>> scripted, int64_t durationSeconds);

  // Forgets every started job and every counted query.
  void clear();

  void start(int64_t fileId, int64_t nowMillis) { started_[fileId] = nowMillis; }

  // The job's status now, counting the query; false when no job is known for the file.
  bool query(int64_t fileId, int64_t nowMillis, std::string& state, std::string& message);

 private:
  const std::set<int64_t> failing_;
  std::map<int64_t, std::vector<JobStep>> scripted_;
  int64_t durationSeconds_ = 0;
  std::map<int64_t, int64_t> started_;  // file id -> start, milliseconds
  // Where a scripted job is: its step, and when that step began (milliseconds; -1: not yet).
  struct Progress {
    size_t step = 0;
    int64_t since = -1;
  };
  // The step that answers a query of `steps` at `nowMillis`, moving `progress` on.
  static const JobStep& stepAt(const std::vector<JobStep>& steps, Progress& progress,
                               int64_t nowMillis);

  std::map<int64_t, Progress> progress_;  // file id -> its scripted job's progress
};
