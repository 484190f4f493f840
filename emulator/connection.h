// One client connection of the emulator: its transport, the bytes received and not yet
// parsed (which may already hold the next request), the answer not yet sent, and where it
// stands. The connection loop owns it; while a worker processes a request on it (kBusy), only
// that worker touches it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "emulator_request.h"
#include "transport.h"

using SteadyClock = std::chrono::steady_clock;

// How long a TLS handshake, the head of a request once it has begun, a request body or one
// step of sending an answer may take.
const std::chrono::seconds kTransferLimit{10};

struct Connection {
  enum class State {
    kHandshake,  // TLS handshake under way
    kIdle,       // waiting for the first byte of a request
    kHead,       // a request head is arriving
    kBusy,       // a worker processes a request, or takes a handshake step
    kDelayed,    // the answer waits for its delay
    kWriting,    // the answer is being sent
    kClosed,     // to be removed
  };

  Connection(uint64_t id, std::unique_ptr<Transport> transport);

  // Buffered input not yet taken.
  size_t inputSize() const { return in.size() - inStart; }
  // True when the buffered input holds a whole request head, or more than any head may be.
  bool hasRequestHead() const;
  // Moves up to `size` buffered bytes to `to`; their count.
  size_t takeInput(char* to, size_t size);
  // One read from the transport, appended to the input.
  IoResult receive();

  // Output not yet sent.
  size_t outputSize() const { return out.size() - outSent; }
  // One write of up to `limit` bytes of the output; all sent output is forgotten.
  IoResult send(size_t limit);
  // Forgets the output, sent or not, and frees its memory.
  void clearOutput();

  const uint64_t id;
  std::unique_ptr<Transport> transport;
  State state = State::kIdle;
  SteadyClock::time_point deadline;  // of the state (for kWriting with a drip: the next drop)
  IoStatus waitingFor = IoStatus::kWantRead;  // what the transport waits for, or kDone
  std::string in;
  size_t inStart = 0;
  std::string out;
  size_t outSent = 0;
  bool inHandshake = false;                    // kBusy with a handshake step, not a request
  IoStatus handshakeResult = IoStatus::kDone;  // of that step
  int64_t requests = 0;                        // begun on this connection
  Delivery delivery;                           // of the answer in `out`
  bool closeAfterAnswer = false;
  std::string closeNote;             // why, for the log
  int64_t dripAllowance = 0;         // bytes a dripping answer may send now
  SteadyClock::time_point dripSent;  // when a dripping answer last got bytes out
};
