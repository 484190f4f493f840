// What an endpoint made of a request: the answer, the short note that the log line and the
// journal give it, and the token the answer hands out, which the journal masks.
#pragma once

#include <string>
#include <utility>

#include "server/emulator_response.h"

struct Answered {
  Answered() = default;
  Answered(EmulatorResponse response, std::string note, std::string issuedToken = "")
      : response(std::move(response)), note(std::move(note)), issuedToken(std::move(issuedToken)) {}

  // False when the delivery sends no answer at all (a drop, garbage).
  bool sendsAnswer() const {
    return response.delivery.kind != Delivery::Kind::kDrop &&
           response.delivery.kind != Delivery::Kind::kGarbage;
  }

  EmulatorResponse response;
  std::string note;
  std::string issuedToken;
};
