// Signed headers for the API gateway: key, timestamp, nonce, an HMAC-SHA256 signature
// over a canonical text of the request, and the project and tenant identifiers.
#pragma once

#include <map>
#include <string>

#include "transport/http_exchange.h"

class TranslateJob;

// Name-to-value maps ordered byte-wise by name (std::string compares as unsigned bytes).
using HeaderMap = std::map<std::string, std::string>;
using QueryMap = std::map<std::string, std::string>;

// Appends the seven gateway lines, "x-ca-key" to "x-tenant-id" in name order, to `headers`.
// `url` is the URL as sent; `method` the HTTP method in capitals; `query` the parameters
// the caller also wrote into its URL.
void addGatewayHeaders(const TranslateJob& job, const std::string& url, std::string method,
                       const QueryMap& query, HeaderList& headers);

// The same with a given nonce instead of a fresh one, so a signature can be reproduced.
void addGatewayHeaders(const TranslateJob& job, const std::string& url, std::string method,
                       const QueryMap& query, HeaderList& headers, const std::string& nonce);

// The canonical text of the "x-ca-" entries ("name:value\n" each, name lower-cased);
// records their names, joined by ",", as "x-ca-signature-headers" in `headers`.
std::string buildCanonicalHeaders(HeaderMap& headers);

// The path of `url`: from the first "/" after "//" up to "?" or "#"; empty when there is none.
std::string extractUrlPath(const std::string& url);

// `path` cut at "?", followed by "?name=value&..." from `query` (bare name for an empty value).
std::string buildPathAndQuery(const std::string& path, const QueryMap& query);

// Raw HMAC-SHA256 of `data` with `key`.
std::string hmacSign(const std::string& key, const std::string& data);

// Standard Base64 on one line, no line breaks.
std::string base64Encode(const std::string& bytes);

// A fresh lower-case 36-character UUID text.
std::string makeNonce();

// The string the gateway signs: method, canonical header text, path and query.
std::string buildStringToSign(const std::string& method, const std::string& canonicalHeaders,
                              const std::string& pathAndQuery);
