// The envelope of the service's own answers.
#include "answers/service_envelope.h"

#include "transport/local_json.h"
#include "util/json.h"

EnvelopeKind readEnvelope(const rapidjson::Value& root, std::string& message,
                          const rapidjson::Value*& data) {
  const rapidjson::Value* code = findMember(root, "code");
  if (code == nullptr) return EnvelopeKind::kOther;
  if (code->IsInt()) {
    getLocalStringMember(root, "message", message);
    return EnvelopeKind::kError;
  }
  std::string verdict;
  const rapidjson::Value* payload = findMember(root, "data");
  if (!getStringMember(root, "code", verdict) || verdict != "success" || payload == nullptr ||
      !payload->IsObject()) {
    return EnvelopeKind::kOther;
  }
  data = payload;
  return EnvelopeKind::kSuccess;
}
