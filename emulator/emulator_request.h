// The emulator's answer to a request and how the connection hands it over, where a request
// came from, and the raw-text helpers that read a request without decoding it: the client
// sends query parameters and form fields unencoded, so "+", "/" and "=" must reach the checks
// exactly as they were sent.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "recorded_request.h"

// How the connection carries an answer out: as it is, or as one of the network's faults.
struct Delivery {
  enum class Kind {
    kNormal,   // the answer at once
    kDrop,     // close the connection without an answer
    kGarbage,  // a few bytes that are not HTTP, then close
    kDelay,    // the answer after `amount` milliseconds
    kDrip,     // the answer, status line and headers included, at `amount` bytes per second
  };
  Kind kind = Kind::kNormal;
  int64_t amount = 0;

  static Delivery normal() { return {}; }
  static Delivery drop() { return {Kind::kDrop, 0}; }
  static Delivery garbage() { return {Kind::kGarbage, 0}; }
  static Delivery delay(int64_t ms) { return {Kind::kDelay, ms}; }
  static Delivery drip(int64_t bytesPerSecond) { return {Kind::kDrip, bytesPerSecond}; }
};

struct EmulatorResponse {
  EmulatorResponse(int status = 200, std::string body = "", Delivery delivery = Delivery())
      : status(status), body(std::move(body)), delivery(delivery) {}

  int status;
  std::string body;  // JSON
  Delivery delivery;
};

// Where a request came from: its connection, numbered from 1 in the order they were
// accepted, and its place among that connection's requests, from 1.
struct Arrival {
  uint64_t connection = 0;
  int64_t requestOnConnection = 1;
};

// Name-to-value parameters, ordered byte-wise by name.
using ParameterMap = std::map<std::string, std::string>;

// Parameters of a raw query or form text: pieces split at "&", each at its first "=";
// a piece without "=" is a name with an empty value. Nothing is decoded; the first
// occurrence of a name counts; empty pieces are skipped.
ParameterMap parseRawParameters(const std::string& text);

// The token of an "Authorization" value "<scheme> <token>" (scheme compared without
// regard to case); false when the value has another scheme.
bool takeCredential(const std::string& authorization, const std::string& scheme,
                    std::string& token);

// A file id written as decimal text with an optional "-", at most 18 digits.
bool parseFileId(const std::string& text, int64_t& id);

// Standard Base64 of `bytes` with padding, on one line.
std::string encodeBase64(const std::string& bytes);
