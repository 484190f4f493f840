// How a connection of the HTTP server ends: a kind that the code and the tests tell apart,
// and the words of the log line "connection N closed after M requests (<note>)".
#pragma once

#include <string>

struct ConnectionEnd {
  enum class Kind {
    kNone,             // it goes on
    kStopping,         // the server stops
    kIdle,             // no request came within the wait for the first or the next one
    kClosedByClient,   // the client closed it between requests
    kClientLeft,       // the client closed it within a handshake, a request or an answer
    kTimedOut,         // a handshake, a request or taking an answer passed the transfer limit
    kHandshakeFailed,  // the TLS handshake failed
    kFailed,           // reading or sending failed
    kUnreadable,       // a request that is no HTTP or too long to read, answered 400
    kTooLarge,         // a request over the bytes of requests held at once, answered 413
    kAnswerCloses,     // the answer said "Connection: close"
    kDropped,          // closed without an answer, as the handler asked
    kGarbage,          // bytes that are no HTTP sent instead of the answer
    kCut,              // the answer cut short
    kHeld,             // the answer held back until the client closed
  };

  Kind kind = Kind::kNone;
  std::string note;

  bool goesOn() const { return kind == Kind::kNone; }
};
