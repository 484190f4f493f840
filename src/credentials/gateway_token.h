// The gateway token, by the OAuth2 client-credentials grant. It authorises only the
// project lookup and is never kept; the token request itself is never signed.
#pragma once

#include <string>

// POSTs the unencoded form "grant_type=client_credentials&client_id=..&client_secret=.." to
// `url` with libcurl's default form headers, prints the answer's console blocks and returns
// gatewayTokenFromAnswer of it; empty when the exchange failed. An empty token comes with its
// reason in `reason`.
std::string fetchGatewayToken(const std::string& url, const std::string& clientId,
                              const std::string& clientSecret, std::string& reason);

// The string "access_token" (in the local code page) of an answer object (UTF-8, as received),
// or empty; a token holding a line break is refused, as it is sent in a header line. When it
// gives none, `reason` says why for a log line: the answer's OAuth2 "error" and
// "error_description", or what it lacks.
std::string gatewayTokenFromAnswer(const std::string& answer, std::string& reason);
