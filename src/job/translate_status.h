// Querying the translate job's status and waiting for its end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "credentials/gateway_identity.h"

// Status outcomes of one status query.
enum : int { kStatusFinished = 0, kStatusProcessing = 1, kStatusFailed = -1 };

// GETs `statusUrl` + "?fileId=" + `fileId` (redirects followed) with "Authorization:Bearer
// <token>", signed in gateway mode, and gives parseTranslateStatus of the answer. Prints the
// answer's console blocks only when the outcome is kStatusFailed; kStatusFailed without
// output, with the reason in `message`, when the exchange failed. `deadlineTicks`: see
// HttpRequest.
int queryTranslateStatus(const std::string& statusUrl, const std::string& fileId,
                         const std::string& token, const GatewayIdentity& identity,
                         std::string& message, int64_t deadlineTicks = 0);

// The status outcome of one answer (UTF-8, as received). Prints "+" for a running job and "*"
// for an answer that reports a failure, each flushed at once, so a caller reading standard
// output sees the wait go on; copies the answer's "message" on failures.
int parseTranslateStatus(const std::string& answer, std::string& message);

// Calls `queryOnce` every five seconds, the first time five seconds in, until it gives an
// outcome other than kStatusProcessing. True when that outcome is kStatusFinished. Once more
// than `overtime` whole seconds have passed after a query, `message` becomes "overtime!" and
// the result is false, whatever the query gave. `queryOnce` gets the instant from which
// `overtime` has passed (0 when it never will), as the deadline of the requests it makes.
bool waitForOutcome(uint64_t overtime, const std::function<int(int64_t)>& queryOnce,
                    std::string& message);
