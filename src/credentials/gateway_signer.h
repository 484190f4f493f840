// Signed headers for the API gateway: key, timestamp, nonce, an HMAC-SHA256 signature
// over a canonical text of the request, and the project and tenant identifiers.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "credentials/gateway_identity.h"

// Name-to-value maps ordered byte-wise by name (std::string compares as unsigned bytes).
using HeaderMap = std::map<std::string, std::string>;
using QueryMap = std::map<std::string, std::string>;

// A fresh lower-case 36-character UUID text.
std::string makeNonce();

// In gateway mode, appends the seven gateway lines, "x-ca-key" to "x-tenant-id" in name order,
// to `headerLines`, signing `method` and `url` (as sent) with `query`, the parameters the
// caller also wrote into the URL. Does nothing outside gateway mode.
void signForGateway(const GatewayIdentity& identity, const std::string& url,
                    const std::string& method, const QueryMap& query,
                    std::vector<std::string>& headerLines);

// Appends the seven gateway lines to `headerLines`. `url` is the URL as sent; `method` the
// HTTP method in capitals; `nonce` a fresh one unless given, so a signature can be reproduced.
void addGatewayHeaders(const GatewayIdentity& identity, const std::string& url, std::string method,
                       const QueryMap& query, std::vector<std::string>& headerLines,
                       const std::string& nonce = makeNonce());

// The canonical text of the "x-ca-" entries ("name:value\n" each, name lower-cased);
// records their names, joined by ",", as "x-ca-signature-headers" in `headers`.
std::string buildCanonicalHeaders(HeaderMap& headers);

// The path of `url`: from the first "/" after "//" up to "?" or "#"; empty when there is none.
std::string extractUrlPath(const std::string& url);

// `path` cut at "?", followed by "?name=value&..." from `query` (bare name for an empty value).
std::string buildPathAndQuery(const std::string& path, const QueryMap& query);

// The string the gateway signs: method, canonical header text, path and query.
std::string buildStringToSign(const std::string& method, const std::string& canonicalHeaders,
                              const std::string& pathAndQuery);

// Raw HMAC-SHA256 of `data` with `key`.
std::string hmacSign(const std::string& key, const std::string& data);
