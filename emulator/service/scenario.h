// A scenario: what a test wants the emulator to do beyond its defaults. Scripted status
// answers per file, refused commits, and faults for chosen requests of an endpoint, read from
// a JSON text such as a user's scenario file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "service/emulator_request.h"

// One answer to a status query: "processing", "success" or "failed" with a message; for one
// query, or for every query within `seconds` from the first that got it.
struct JobStep {
  std::string status;
  std::string message;  // for "failed"
  int64_t seconds = 0;  // 0: one query
};

// A translate request refused with this code and message instead of starting a job.
struct CommitRefusal {
  std::string code;
  std::string message;
};

// How long a delay lasts: `amount` milliseconds, or drawn from a distribution.
struct DelayDistribution {
  enum class Kind { kFixed, kUniform, kLognormal } kind = Kind::kFixed;
  double lowerMs = 0;   // uniform: from
  double upperMs = 0;   // uniform: to
  double medianMs = 0;  // lognormal: the median
  double sigma = 0;     // lognormal: the standard deviation of the logarithm
};

// A fault for requests `request` .. `request` + `times` - 1 of one endpoint, counted from 1:
// all of its requests, or only the translate or status requests of one file; of those, every
// `every`-th, each with the chance `probability`.
struct FaultRule {
  std::string endpoint;  // token, translate, status, gatewaytoken or projects
  bool forFile = false;  // counts and hits only the requests for `fileId`
  int64_t fileId = 0;
  int64_t request = 1;
  int64_t times = 1;
  int64_t every = 1;
  double probability = 1;
  std::string action;                                        // drop, garbage, status, delay or drip
  int status = 0;                                            // for "status"
  std::string body;                                          // for "status"
  std::vector<std::pair<std::string, std::string>> headers;  // for "status": further lines
  int64_t amount = 0;  // milliseconds for a fixed "delay", bytes per second for "drip"
  DelayDistribution delay;

  // True when the `count`-th request is within the range and an `every`-th one of it.
  bool covers(int64_t count) const {
    return count >= request && count - request < times && (count - request + 1) % every == 0;
  }
};

struct Scenario {
  std::map<int64_t, std::vector<JobStep>> jobs;  // file id -> its status answers in order
  std::map<int64_t, CommitRefusal> commits;
  std::vector<FaultRule> faults;
  int64_t tokenLifetime = 0;  // seconds; 0: not set
  int64_t jobDuration = -1;   // seconds; -1: not set
  bool seeded = false;        // "seed" was given; otherwise the service picks one
  uint64_t seed = 0;          // of the draws of the faults with a chance or a delay distribution
};

// Reads a scenario from `text`; false with the reason, naming the member at fault, in `reason`.
bool parseScenario(const std::string& text, Scenario& scenario, std::string& reason);

// The same for the file at `path`.
bool loadScenarioFile(const std::string& path, Scenario& scenario, std::string& reason);
