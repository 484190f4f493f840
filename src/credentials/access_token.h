// The service access token: obtained with the application credential, kept with its expiry
// and handed out again while it is valid.
#pragma once

#include <cstdint>
#include <string>

#include "credentials/gateway_identity.h"

// The service bearer token. Returns `accessToken` while at least one whole second of it
// remains (`tokenExpiry` in 100-ns ticks); otherwise POSTs the credential to `tokenUrl`
// (with it in the query, signed, in gateway mode), prints the answer's console blocks and
// reads it with readTokenAnswer. Empty, with the reason in `message`, when the exchange
// failed. Possibly empty otherwise. `deadlineTicks`: see HttpRequest.
std::string obtainServiceToken(const std::string& tokenUrl, const GatewayIdentity& identity,
                               std::string& accessToken, int64_t& tokenExpiry, std::string& message,
                               int64_t deadlineTicks = 0);

// Reads a token answer (UTF-8, as received). A "success" answer with a "data" object keeps its
// string "token" (unless it holds a line break) and the expiry read from "expireTime"; an
// integer "code" puts a string "message" into `message` and gives the empty text. Returns
// the token to send: `accessToken` as it then stands, or empty after an error answer.
std::string readTokenAnswer(const std::string& answer, std::string& accessToken,
                            int64_t& tokenExpiry, std::string& message);

// Reads "YYYY-MM-DD hh:mm:ss" as a local standard time (no daylight saving) and stores its
// seconds since the epoch in `seconds`. Leading white space is skipped, the blank between date
// and time may be any run of white space or none, and whatever follows the seconds is ignored.
// False, leaving `seconds` alone, when a field is missing or out of range, a separator differs,
// or the time cannot be represented.
bool parseExpireTime(const std::string& text, int64_t& seconds);
