// What a handler of the emulator's HTTP server gives back for one request: the answer, and
// how the connection hands it over, as it is or as one of the network's faults. And where a
// request came from.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct Delivery {
  enum class Kind {
    kNormal,      // the answer at once
    kDrop,        // close the connection without an answer
    kGarbage,     // a few bytes that are not HTTP, then close
    kDelay,       // the answer after `amount` milliseconds
    kDrip,        // the answer, status line and headers included, at `amount` bytes per second
    kCut,         // the status line, the headers and half the body, then close
    kCutAndHold,  // the same, then nothing more until the client closes
    kHold,        // no answer at all; the connection stays until the client closes it
  };
  Kind kind = Kind::kNormal;
  int64_t amount = 0;

  static Delivery normal() { return {}; }
  static Delivery drop() { return {Kind::kDrop, 0}; }
  static Delivery garbage() { return {Kind::kGarbage, 0}; }
  static Delivery delay(int64_t ms) { return {Kind::kDelay, ms}; }
  static Delivery drip(int64_t bytesPerSecond) { return {Kind::kDrip, bytesPerSecond}; }
  static Delivery cut() { return {Kind::kCut, 0}; }
  static Delivery cutAndHold() { return {Kind::kCutAndHold, 0}; }
  static Delivery hold() { return {Kind::kHold, 0}; }
};

struct EmulatorResponse {
  EmulatorResponse(int status = 200, std::string body = "", Delivery delivery = Delivery())
      : status(status), body(std::move(body)), delivery(delivery) {}

  int status;
  std::string body;
  Delivery delivery;
  std::string contentType = "application/json";  // none when empty
  std::vector<std::string> headers;              // further "Name: value" lines, sent as they are
  // For an answer too large to build at once: called after `body` went out, again and again,
  // each call appending the next piece of the body to its argument while it returns true. The
  // answer then goes out in pieces (chunked), at once as the delivery, and each piece is asked
  // for only once the one before was sent, so that other connections go on in between.
  std::function<bool(std::string& piece)> morePieces;
};

// Where a request came from: its connection, numbered from 1 in the order they were
// accepted, and its place among that connection's requests, from 1.
struct Arrival {
  uint64_t connection = 0;
  int64_t requestOnConnection = 1;
};
