// A scenario: what a test wants the emulator to do beyond its defaults. Scripted status
// answers per file, refused commits, and faults for chosen requests of an endpoint, read from
// a JSON text such as a user's scenario file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "service/emulator_request.h"

// One answer to a status query: "processing", "success" or "failed" with a message.
struct JobStep {
  std::string status;
  std::string message;  // for "failed"
};

// A translate request refused with this code and message instead of starting a job.
struct CommitRefusal {
  std::string code;
  std::string message;
};

// A fault for requests `request` .. `request` + `times` - 1 of one endpoint, counted from 1:
// all of its requests, or only the translate or status requests of one file.
struct FaultRule {
  std::string endpoint;  // token, translate, status, gatewaytoken or projects
  bool forFile = false;  // counts and hits only the requests for `fileId`
  int64_t fileId = 0;
  int64_t request = 1;
  int64_t times = 1;
  std::string action;  // drop, garbage, status, delay or drip
  int status = 0;      // for "status"
  std::string body;    // for "status"
  int64_t amount = 0;  // milliseconds for "delay", bytes per second for "drip"

  bool covers(int64_t count) const { return count >= request && count - request < times; }
};

struct Scenario {
  std::map<int64_t, std::vector<JobStep>> jobs;  // file id -> its status answers in order
  std::map<int64_t, CommitRefusal> commits;
  std::vector<FaultRule> faults;
  int64_t tokenLifetime = 0;  // seconds; 0: not set
  int64_t jobDuration = -1;   // seconds; -1: not set
};

// Reads a scenario from `text`; false with the reason, naming the member at fault, in `reason`.
bool parseScenario(const std::string& text, Scenario& scenario, std::string& reason);

// The same for the file at `path`.
bool loadScenarioFile(const std::string& path, Scenario& scenario, std::string& reason);
