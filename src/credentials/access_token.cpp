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

// Stores the token and its expiry from the "data" object of a "success" answer.
void keepToken(const rapidjson::Value& data, std::string& accessToken, int64_t& tokenExpiry) {
  getHeaderSafeStringMember(data, "token", accessToken);
  std::string expireTime;
  int64_t seconds = 0;
  if (getStringMember(data, "expireTime", expireTime) && parseExpireTime(expireTime, seconds)) {
    tokenExpiry = seconds * platform::kTicksPerSecond;
  }
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

std::string obtainServiceToken(const std::string& tokenUrl, const GatewayIdentity& identity,
                               std::string& accessToken, int64_t& tokenExpiry, std::string& message,
                               int64_t deadlineTicks) {
  if ((tokenExpiry - platform::nowTicks()) / platform::kTicksPerSecond > 0 &&
      !accessToken.empty()) {
    return accessToken;
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

  HttpAnswer answer;
  if (!performAndPrint(request, answer, message)) return std::string();
  return readTokenAnswer(answer.body, accessToken, tokenExpiry, message);
}

std::string readTokenAnswer(const std::string& answer, std::string& accessToken,
                            int64_t& tokenExpiry, std::string& message) {
  LocalJson json;
  if (!json.parse(answer)) return accessToken;
  const rapidjson::Value* data = nullptr;
  switch (readEnvelope(json.doc(), message, data)) {
    case EnvelopeKind::kError:
      return std::string();
    case EnvelopeKind::kSuccess:
      keepToken(*data, accessToken, tokenExpiry);
      break;
    case EnvelopeKind::kOther:
      break;
  }
  return accessToken;
}
