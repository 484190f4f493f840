// Querying the translate job's status and waiting for its end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "credentials/gateway_identity.h"

// Status outcomes of one status query.
enum : int { kStatusFinished = 0, kStatusProcessing = 1, kStatusFailed = -1 };

// What one status poll found.
struct StatusPoll {
  int outcome = kStatusFailed;  // kStatusFinished, kStatusProcessing or kStatusFailed
  // The service refused the poll with its error envelope (an integer "code").
  bool refused = false;
  // Nothing was learnt of the job: the answer was HTTP 502, 503, 504 or 429, from a gateway, a
  // proxy or a busy server. A later poll may do better.
  bool passing = false;
  int64_t retryAfterSeconds = 0;  // what such an answer's "Retry-After" asked for; 0: nothing
};

// GETs `statusUrl` + "?fileId=" + `fileId` (redirects followed) with "Authorization:Bearer
// <token>", signed in gateway mode. An answer with HTTP 502, 503, 504 or 429 is passing trouble,
// logged as one WARNING line; any other is read with readStatusAnswer, and its console blocks are
// printed when the outcome is kStatusFailed. kStatusFailed without output, with the reason in
// `message`, when the exchange failed. `deadlineTicks`: see HttpRequest.
StatusPoll queryTranslateStatus(const std::string& statusUrl, const std::string& fileId,
                                const std::string& token, const GatewayIdentity& identity,
                                std::string& message, int64_t deadlineTicks = 0);

// The status outcome of one answer (UTF-8, as received). Prints "+" for a running job and "*"
// for an answer that reports a failure, each flushed at once, so a caller reading standard
// output sees the wait go on; copies the answer's "message" on failures.
int parseTranslateStatus(const std::string& answer, std::string& message);

// parseTranslateStatus, telling also whether the answer was the service's refusal.
StatusPoll readStatusAnswer(const std::string& answer, std::string& message);

// Calls `pollOnce` every five seconds, the first time five seconds in, until it gives an outcome
// other than kStatusProcessing. True when that outcome is kStatusFinished. Once more than
// `overtime` whole seconds have passed after a poll, `message` becomes "overtime!" and the result
// is false, whatever the poll gave. A poll that met passing trouble is made again, no sooner than
// its "Retry-After" asked, at least 5 s and at most 60 s later; when that would come after the
// limit, the wait ends at the limit with "overtime!". `pollOnce` gets the instant (steady clock)
// from which `overtime` has passed (0 when it never will), as the deadline of its requests. Time
// is measured on the steady clock: setting the wall clock changes nothing here.
bool waitForOutcome(uint64_t overtime, const std::function<StatusPoll(int64_t)>& pollOnce,
                    std::string& message);
