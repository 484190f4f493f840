// The service access token: obtained with the application credential, kept and renewed.
#include "credentials/access_token.h"

#include <rapidjson/document.h>

#include "answers/console_blocks.h"
#include "answers/service_envelope.h"
#include "credentials/gateway_signer.h"
#include "platform/platform.h"
#include "transport/http_exchange.h"
#include "transport/local_json.h"
#include "util/base64.h"
#include "util/json.h"
#include "util/masking.h"

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads one to `maxDigits` decimal digits at `pos` into `value` when it lies in [low, high].
bool readField(const std::string& text, size_t& pos, size_t maxDigits, int low, int high,
               int& value) {
  size_t start = pos;
  value = 0;
  while (pos < text.size() && pos - start < maxDigits && text[pos] >= '0' && text[pos] <= '9') {
    value = value * 10 + (text[pos] - '0');
    ++pos;
  }
  return pos > start && value >= low && value <= high;
}

bool expect(const std::string& text, size_t& pos, char separator) {
  if (pos >= text.size() || text[pos] != separator) return false;
  ++pos;
  return true;
}

void skipBlanks(const std::string& text, size_t& pos) {
  while (pos < text.size() && isBlank(text[pos])) ++pos;
}

// Stores the token and its expiry from the "data" object of a "success" answer; false when it
// holds no usable token.
bool keepToken(const rapidjson::Value& data, std::string& accessToken, int64_t& tokenExpiry) {
  std::string token;
  if (!getHeaderSafeStringMember(data, "token", token) || token.empty()) return false;
  accessToken = token;
  std::string expireTime;
  int64_t seconds = 0;
  if (getStringMember(data, "expireTime", expireTime) && parseExpireTime(expireTime, seconds)) {
    tokenExpiry = seconds * platform::kTicksPerSecond;
  }
  return true;
}

// "HTTP <status>: <the body's start>", the body fit for a log line; without a body, the status.
std::string statusAndBody(const HttpAnswer& answer) {
  const std::string status = "HTTP " + std::to_string(answer.status);
  return answer.body.empty() ? status : status + ": " + loggableText(answer.body, kLoggedTextBytes);
}

}  // namespace

bool parseExpireTime(const std::string& text, int64_t& seconds) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  size_t pos = 0;
  skipBlanks(text, pos);
  bool matched = readField(text, pos, 4, 0, 9999, year) && expect(text, pos, '-') &&
                 readField(text, pos, 2, 1, 12, month) && expect(text, pos, '-') &&
                 readField(text, pos, 2, 1, 31, day);
  if (!matched) return false;
  skipBlanks(text, pos);
  matched = readField(text, pos, 2, 0, 23, hour) && expect(text, pos, ':') &&
            readField(text, pos, 2, 0, 59, minute) && expect(text, pos, ':') &&
            readField(text, pos, 2, 0, 60, second);
  if (!matched) return false;
  int64_t converted = platform::localTimeToSeconds(year, month, day, hour, minute, second);
  if (converted == -1) return false;
  seconds = converted;
  return true;
}

ServiceToken obtainServiceToken(const std::string& tokenUrl, const GatewayIdentity& identity,
                                std::string& accessToken, int64_t& tokenExpiry,
                                int64_t deadlineTicks) {
  ServiceToken result;
  if ((tokenExpiry - platform::nowTicks()) / platform::kTicksPerSecond > 0 &&
      !accessToken.empty()) {
    result.token = accessToken;
    return result;
  }
  const std::string credential = base64Encode(identity.appKey + ":" + identity.appSecret);
  HttpRequest request("getMarluneAccessToken", "POST", tokenUrl);
  QueryMap query;
  if (identity.gatewayMode()) {
    request.url += "?credential=" + credential;
    query["credential"] = credential;
  }
  request.timeLimitSeconds = kRequestTimeLimitSeconds;
  request.deadlineTicks = deadlineTicks;
  request.headerLines = jsonHeaderLines("Basic " + credential);
  signForGateway(identity, request.url, request.method, query, request.headerLines);

  result.fresh = true;
  HttpAnswer answer;
  if (!performAndPrint(request, answer, result.reason)) return result;
  result.token = readTokenAnswer(answer, accessToken, tokenExpiry, result.reason);
  if (result.token.empty()) {
    result.reason = request.label + ": " + result.reason;
    result.answered = true;
    result.passing = isPassingTrouble(answer.status);
    result.retryAfterSeconds = answer.retryAfterSeconds;
  }
  return result;
}

std::string readTokenAnswer(const HttpAnswer& answer, std::string& accessToken,
                            int64_t& tokenExpiry, std::string& reason) {
  LocalJson json;
  if (isPassingTrouble(answer.status) || !json.parse(answer.body) || !json.doc().IsObject()) {
    reason = statusAndBody(answer);
    return std::string();
  }
  std::string message;
  const rapidjson::Value* data = nullptr;
  if (readEnvelope(json.doc(), message, data) == EnvelopeKind::kSuccess &&
      keepToken(*data, accessToken, tokenExpiry)) {
    return accessToken;
  }
  std::string code;
  if (getStringMember(json.doc(), "code", code) && code == "success") {
    reason = "the answer holds no usable \"token\"";
  } else {
    const std::string notes = loggableMembers(json.doc(), {"code", "message"});
    reason = notes.empty() ? "refused" : "refused (" + notes + ")";
  }
  return std::string();
}
