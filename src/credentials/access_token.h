// The service access token: obtained with the application credential, kept with its expiry
// and handed out again while it is valid.
#pragma once

#include <cstdint>
#include <string>

#include "credentials/gateway_identity.h"
#include "transport/http_exchange.h"

// What a call for the service token gave.
struct ServiceToken {
  std::string token;  // the token to send; empty when none could be had
  // Why none: "getMarluneAccessToken: <what the answer said>" for an answer, the transport's
  // "getMarluneAccessToken failed: <reason>" (already logged) otherwise.
  std::string reason;
  bool fresh = false;             // a token request was made for this call
  bool answered = false;          // no token, and `reason` is what the answer said
  bool passing = false;           // no token, and the answer was HTTP 502, 503, 504 or 429
  int64_t retryAfterSeconds = 0;  // what such an answer's "Retry-After" asked for
};

// The service bearer token: `accessToken` while at least one whole second of it remains
// (`tokenExpiry` in 100-ns ticks); otherwise POSTs the credential to `tokenUrl` (with it in the
// query, signed, in gateway mode), prints the answer's console blocks and reads it with
// readTokenAnswer. No token when the exchange failed or the answer gives none; a token is never
// made up from an answer that refused one. `deadlineTicks`: see HttpRequest.
ServiceToken obtainServiceToken(const std::string& tokenUrl, const GatewayIdentity& identity,
                                std::string& accessToken, int64_t& tokenExpiry,
                                int64_t deadlineTicks = 0);

// Reads a token answer (texts as received). A "success" answer whose "data" object holds a
// non-empty string "token" without a line break keeps it in `accessToken`, with the expiry read
// from "expireTime" when it can be, and gives it. Any other answer gives the empty text and says
// in `reason` what it was: "HTTP <status>: <body's start>" for HTTP 502, 503, 504 or 429, or for
// a body that is no JSON object; the answer's "code" and "message" otherwise.
std::string readTokenAnswer(const HttpAnswer& answer, std::string& accessToken,
                            int64_t& tokenExpiry, std::string& reason);

// Reads "YYYY-MM-DD hh:mm:ss" as a local standard time (no daylight saving) and stores its
// seconds since the epoch in `seconds`. Leading white space is skipped, the blank between date
// and time may be any run of white space or none, and whatever follows the seconds is ignored.
// False, leaving `seconds` alone, when a field is missing or out of range, a separator differs,
// or the time cannot be represented.
bool parseExpireTime(const std::string& text, int64_t& seconds);
