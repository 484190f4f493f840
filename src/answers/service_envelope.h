// The envelope of the service's own answers (token, translate, status): an object with
// "code", "message" and "data".
#pragma once

#include <rapidjson/document.h>

#include <string>

enum class EnvelopeKind {
  kError,    // an integer "code" (signed 32-bit)
  kSuccess,  // "code" exactly "success", with an object "data"
  kOther,    // anything else, a root that is not an object included
};

// Which kind of answer `root` (from LocalJson) is. For kError a string "message" goes into
// `message`; for kSuccess `data` points at the "data" object.
EnvelopeKind readEnvelope(const rapidjson::Value& root, std::string& message,
                          const rapidjson::Value*& data);
