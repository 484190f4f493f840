// Routing a request, its faults, and its log line and journal entry; the admin interface.
#include "service/emulator_service.h"

#include <chrono>
#include <memory>
#include <random>
#include <sstream>

#include "service/emulator_request.h"
#include "service/fault_draws.h"
#include "service/journal_read.h"
#include "service/service_answers.h"

namespace {

// A scenario's document takes many times its text's size: a larger one is refused unread.
const size_t kMaxScenarioBytes = 1024 * 1024;

// A seed for a scenario that names none, from 0 to 2^63 - 1 as a scenario's "seed".
uint64_t pickSeed() {
  std::random_device device;
  const uint64_t time =
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  const uint64_t drawn = (static_cast<uint64_t>(device()) << 32) ^ device() ^ time;
  return faultGenerator(drawn, 0)() >> 1;
}

// " (chance P)" for a fault that goes by chance, "" for one that does not.
std::string chanceOf(const FaultRule& rule) {
  if (rule.probability >= 1) return "";
  std::ostringstream text;
  text << " (chance " << rule.probability << ")";
  return text.str();
}

}  // namespace

int64_t EmulatorService::systemMillis() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

EmulatorService::EmulatorService(const EmulatorOptions& options, EmulatorLog& log, Clock clock)
    : options_(options),
      log_(log),
      clock_(std::move(clock)),
      mask_({options.appSecret, options.clientSecret,
             encodeBase64(options.appKey + ":" + options.appSecret)}),
      endpoints_(options_, log, mask_),
      journal_(static_cast<size_t>(options.journalSize), static_cast<size_t>(options.journalBytes)),
      dropsLeft_(options.dropConnections),
      errorsLeft_(options.errorAnswers) {}

void EmulatorService::useScenario(const Scenario& scenario) {
  std::lock_guard<std::mutex> lock(mutex_);
  applyScenario(scenario);
}

size_t EmulatorService::keptTokens() {
  std::lock_guard<std::mutex> lock(mutex_);
  return endpoints_.keptTokens();
}

void EmulatorService::applyScenario(const Scenario& scenario) {
  const bool lifetimeGiven = options_.given.count("--token-lifetime") != 0;
  const int64_t tokenLifetime = lifetimeGiven || scenario.tokenLifetime == 0
                                    ? options_.tokenLifetime
                                    : scenario.tokenLifetime;
  const bool durationGiven = options_.given.count("--job-duration") != 0;
  const int64_t jobDuration =
      durationGiven || scenario.jobDuration < 0 ? options_.jobDuration : scenario.jobDuration;
  endpoints_.follow(scenario, tokenLifetime, jobDuration);
  const uint64_t seed = scenario.seeded ? scenario.seed : pickSeed();
  faults_.follow(scenario.faults, seed);
  log_.line("scenario in force: " + std::to_string(scenario.jobs.size()) + " jobs, " +
            std::to_string(scenario.commits.size()) + " refused commits, " +
            std::to_string(scenario.faults.size()) + " faults; token-lifetime " +
            std::to_string(tokenLifetime) + ", job-duration " + std::to_string(jobDuration) +
            ", seed " + std::to_string(seed) + (scenario.seeded ? "" : " (picked)"));
}

void EmulatorService::resetState() {
  faults_.restart();
  journal_.clear();
  endpoints_.forgetAll();
  dropsLeft_ = options_.dropConnections;
  errorsLeft_ = options_.errorAnswers;
}

EmulatorResponse EmulatorService::handle(const RecordedRequest& request, const Arrival& arrival) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (isAdminPath(request.path())) return admin(request);
  const int64_t now = clock_();
  const Route route = routeOf(request.path());
  const RequestFile file = fileOf(route, request);
  const ChosenFault fault = faults_.choose(route.endpoint, file);
  std::string outcome;  // in the log line, when not the status
  Answered answered;
  if (dropsLeft_ > 0 && arrival.requestOnConnection == 1) {
    --dropsLeft_;
    answered.response = EmulatorResponse(0, "", Delivery::drop());
    outcome = "connection dropped";
  } else {
    answered = answerWithFault(request, route, file, fault, now, outcome);
  }
  const std::string logNote = answered.note;
  if (answered.note.empty() && !answered.sendsAnswer()) answered.note = outcome;
  JournalEntry entry = journalEntry(request, arrival, now, file, answered, mask_);
  if (outcome.empty()) outcome = std::to_string(answered.response.status);
  std::string line = request.method + " " + entry.target + " -> " + outcome;
  if (!logNote.empty()) line += " (" + logNote + ")";
  log_.line(mask_.text(line));
  journal_.add(std::move(entry));
  return std::move(answered.response);
}

Answered EmulatorService::answerWithFault(const RecordedRequest& request, const Route& route,
                                          const RequestFile& file, const ChosenFault& fault,
                                          int64_t now, std::string& outcome) {
  const std::string action = fault.rule != nullptr ? fault.rule->action : "";
  const std::string chance = fault.rule != nullptr ? chanceOf(*fault.rule) : "";
  if (action == "drop" || action == "garbage") {
    outcome = action == "drop" ? "connection dropped" : "garbage sent";
    return Answered(
        EmulatorResponse(0, "", action == "drop" ? Delivery::drop() : Delivery::garbage()),
        "fault: " + action + chance);
  }
  if (action == "status") {
    EmulatorResponse response(fault.rule->status, fault.rule->body);
    for (const auto& header : fault.rule->headers) {
      response.headers.push_back(header.first + ": " + header.second);
    }
    return Answered(response, "fault: status " + std::to_string(fault.rule->status) + chance);
  }
  Answered answered;
  if (errorsLeft_ > 0) {
    --errorsLeft_;
    answered = Answered(errorAnswer(500, "emulated server error"), "injected error");
  } else {
    answered = endpoints_.answer(request, route, file, now);
  }
  if (action == "delay") {
    answered.response.delivery = Delivery::delay(fault.delayMs);
    answered.note += "; fault: delay " + std::to_string(fault.delayMs) + " ms" + chance;
  } else if (action == "drip") {
    answered.response.delivery = Delivery::drip(fault.rule->amount);
    answered.note += "; fault: drip " + std::to_string(fault.rule->amount) + " bytes/s" + chance;
  }
  return answered;
}

// The journal's JSON in pieces, each written under the lock as the connection asks for it.
EmulatorResponse EmulatorService::readJournal(const std::string& query, std::string& note) {
  auto read = std::make_shared<JournalRead>();
  std::string reason;
  if (!parseJournalQuery(query, *read, reason)) {
    note = "invalid journal query";
    return adminAnswer(400, "invalid journal query: " + reason);
  }
  note = std::to_string(journal_.size()) + " journalled";
  EmulatorResponse response(200, "");
  response.headers.push_back("X-Journal-Dropped: " + std::to_string(journal_.dropped()));
  writeJournalPiece(journal_, *read, response.body);
  response.morePieces = [this, read](std::string& piece) {
    std::lock_guard<std::mutex> lock(mutex_);
    return writeJournalPiece(journal_, *read, piece);
  };
  return response;
}

EmulatorResponse EmulatorService::admin(const RecordedRequest& request) {
  const std::string path = request.path();
  const std::string& method = request.method;
  EmulatorResponse response = adminAnswer(404, "no such admin endpoint: " + path);
  std::string note = "no such admin endpoint";
  if (path == "/__emulator/requests" && method == "GET") {
    response = readJournal(request.query(), note);
  } else if (path == "/__emulator/requests" && method == "DELETE") {
    journal_.clear();
    response = adminAnswer(200, "journal emptied");
    note = "journal emptied";
  } else if (path == "/__emulator/reset" && method == "POST") {
    resetState();
    response = adminAnswer(200, "state reset");
    note = "state reset";
  } else if (path == "/__emulator/scenario" && method == "PUT") {
    Scenario scenario;
    std::string reason;
    if (request.body.size() > kMaxScenarioBytes) {
      response = adminAnswer(413, "a scenario takes at most 1 MiB");
      note = "scenario too large";
    } else if (parseScenario(request.body, scenario, reason)) {
      applyScenario(scenario);
      response = adminAnswer(200, "scenario replaced");
      note = "scenario replaced";
    } else {
      response = adminAnswer(400, "invalid scenario: " + reason);
      note = "invalid scenario";
    }
  } else if (path == "/__emulator/requests" || path == "/__emulator/reset" ||
             path == "/__emulator/scenario") {
    response = adminAnswer(405, "wrong method for " + path);
    note = "wrong method";
  }
  log_.line(mask_.text(method + " " + path + " -> " + std::to_string(response.status) + " (" +
                       note + ")"));
  return response;
}
