// One HTTP exchange through libcurl. A request is described as data (HttpRequest);
// performRequest sends it with the shared retry rule and hands back the answer as received,
// in UTF-8. Nothing outside this unit talks to libcurl's easy interface.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The most bytes, by default, an answer's body, or its header lines in all, may have: a longer one
// ends the request at once ("answer larger than 100663296 bytes"), whatever else the server sends.
const int64_t kAnswerLimitBytes = 96 * 1024 * 1024;

// How long one attempt of a request may take in all, in seconds: the service token's and the
// project lookup's limit, and the bound of every other request's attempts.
const long kRequestTimeLimitSeconds = 20;
const long kAttemptLimitSeconds = 120;

// What one request is.
struct HttpRequest {
  HttpRequest() = default;
  HttpRequest(std::string label, std::string method, std::string url)
      : label(std::move(label)), method(std::move(method)), url(std::move(url)) {}

  std::string label;   // names the request: its console blocks begin with it
  std::string name;    // names it in failure reports; the label when empty
  std::string method;  // sent as the request's method name, also "GET" and "POST"
  std::string url;     // the full URL, query included; only HTTP and HTTPS are requested
  // Complete header lines in the order sent ("Name:value"). None: no list is handed to
  // libcurl, so its own defaults apply (a posted form's content type).
  std::vector<std::string> headerLines;
  std::optional<std::string> body;  // sent as text up to its first NUL; none: no body
  // At most 30 in a row, to HTTP or HTTPS; from a request made over HTTPS to HTTPS only.
  bool followRedirects = false;
  bool assumeHttps = false;  // "https" for a URL without a scheme
  // How long each attempt may take in all; 0: only the connect time and the floor bound it.
  long timeLimitSeconds = kAttemptLimitSeconds;
  // When non-zero, the limit (platform::steadyTicks) of the wait the request is made for. The
  // retry rule holds until 10 s past it; from then on no attempt starts and a running one is
  // ended.
  int64_t deadlineTicks = 0;
  // A body, or header lines in all, longer than this ends the request at once.
  int64_t answerLimitBytes = kAnswerLimitBytes;
};

// The texts of a completed exchange as received, in UTF-8; each empty when what was received
// is not well-formed UTF-8.
struct HttpAnswer {
  std::string body;
  std::string headerText;  // every header line received, each with its line end
  long status = 0;         // the HTTP status of the last response
  // What its "Retry-After" asked for (seconds, or an HTTP date as seconds from now); 0: nothing.
  int64_t retryAfterSeconds = 0;
};

// True for an HTTP status that tells nothing of the request itself: a gateway or proxy that
// cannot reach the server, or the server busy or throttling (502, 503, 504, 429).
bool isPassingTrouble(long status);

// Every attempt ends as a transport failure when it cannot connect within this time, or when
// it moves (sends and receives) fewer body bytes a second than the floor, on libcurl's average
// over its last five seconds, for the floor's time in a row.
const long kConnectLimitSeconds = 30;
const long kFloorBytesPerSecond = 10;
const long kFloorSeconds = 60;
// How long past a request's deadline its attempts may still start and run.
const int64_t kDeadlineGraceSeconds = 10;

// The transport state that every request of a process shares: one libcurl transfer handle
// whose connection pool, TLS session cache, DNS cache and trust store outlive each request,
// so requests to one server travel on one connection while the server keeps it open. The
// entry point makes one before the first request; a request made while none is alive gets a
// session of its own. The one alive first is the current one. Sessions, like the requests,
// belong to one thread.
class TransportSession {
 public:
  TransportSession();  // also takes a share of libcurl's global state
  ~TransportSession();
  TransportSession(const TransportSession&) = delete;
  TransportSession& operator=(const TransportSession&) = delete;

  // performRequest on this session.
  bool perform(const HttpRequest& request, HttpAnswer& answer, std::string& reason);

  // The current session, or nullptr.
  static TransportSession* current();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// From now on every request, on whichever session, trusts the CA certificates of the PEM file at
// `path` alone instead of the system's: libcurl's CA file, with no CA directory (on Windows,
// Schannel builds the chain up to them). Certificate and host name verification stay on. The
// empty path gives back the system's trust.
void trustOnlyCaFile(const std::string& path);

// Sends `request` on the current session. A failed transfer is tried again at once, then up to 31
// times more, each retry logged ("<url> connect failed!!! retry <n>") and made after a 2 s pause;
// after the 33rd failure "<url> connect failed!!! max retry 32" is logged. A failure that no
// retry can change (a scheme or a redirect refused, a URL libcurl cannot read, a certificate or
// CA file that fails verification) ends the request at once. True with `answer` filled when an
// exchange completed, whatever its HTTP status. False when libcurl could not create a transfer or
// the attempts failed: an ERROR line then gives the request's name and libcurl's own explanation,
// and `reason` becomes "<name> failed: <that explanation>".
bool performRequest(const HttpRequest& request, HttpAnswer& answer, std::string& reason);

// The two header lines of a JSON request to the service or the gateway's API, in order:
// "Authorization:<authorization>" (no blank after the colon) and the JSON content type.
std::vector<std::string> jsonHeaderLines(const std::string& authorization);

// Growable text that collects a response body or the response header lines.
struct ResponseBuffer {
  std::string text;
  int64_t received = 0;               // every byte taken in, those after a NUL included
  int64_t limit = kAnswerLimitBytes;  // the most `received` may come to
  // When set, the libcurl transfer whose announced Content-Length sizes `text` at its first
  // chunk.
  void* sizedBy = nullptr;

  // Empties the buffer for another attempt.
  void clear() {
    text.clear();
    received = 0;
  }
};

// libcurl write/header callback: appends the chunk's bytes before its first NUL to the
// ResponseBuffer at `userdata`, and reports the whole chunk consumed; but when the chunk would
// take the bytes received past the buffer's limit, it takes none and reports none consumed,
// which ends the transfer.
size_t collectChunk(char* data, size_t size, size_t count, void* userdata);
