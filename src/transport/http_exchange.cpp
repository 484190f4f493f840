// One HTTP exchange through libcurl: the request's options, the collecting callback and the
// retry rule.
#include "transport/http_exchange.h"

#include <curl/curl.h>

#include <cstring>
#include <functional>
#include <memory>
#include <utility>

#include "platform/interrupt.h"
#include "platform/platform.h"
#include "transport/text_encoding.h"
#include "transport/url_scheme.h"
#include "util/ascii.h"
#include "util/log.h"
#include "util/masking.h"

namespace {

// The CA file every request trusts alone (trustOnlyCaFile); empty: the system's trust.
std::string g_caFile;

const int kMaxRetry = 32;
const unsigned kRetryPauseMs = 2000;
// Without a limit libcurl would follow a redirect loop for ever.
const long kMaxRedirects = 30;

struct HandleCloser {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using HandlePtr = std::unique_ptr<CURL, HandleCloser>;

struct HeaderListCloser {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderListPtr = std::unique_ptr<curl_slist, HeaderListCloser>;

HeaderListPtr makeHeaderList(const std::vector<std::string>& lines) {
  HeaderListPtr list;
  for (const std::string& line : lines) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown == nullptr) continue;  // out of memory: the line is left out
    list.release();
    list.reset(grown);
  }
  return list;
}

// The instant after which no attempt of a request with `deadlineTicks` starts or runs; 0 for
// none. A deadline near the clock's end is none in practice.
int64_t cutoffOf(int64_t deadlineTicks) {
  const int64_t grace = kDeadlineGraceSeconds * platform::kTicksPerSecond;
  if (deadlineTicks == 0 || deadlineTicks > INT64_MAX - grace) return 0;
  return deadlineTicks + grace;
}

// Ends an attempt that runs past its request's cutoff, or once the process is asked to end;
// libcurl reports it as a transport failure. Slow attempts are libcurl's to end (the floor).
class AttemptWatch {
 public:
  explicit AttemptWatch(int64_t cutoffTicks) : cutoffTicks_(cutoffTicks) {}

  // libcurl's progress callback: non-zero ends the transfer.
  static int onProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<AttemptWatch*>(self)->shouldEnd() ? 1 : 0;
  }

 private:
  // The cutoff belongs to the steady clock, as the wait's limit does.
  bool shouldEnd() const {
    if (platform::interruptRequest() != 0) return true;
    return cutoffTicks_ != 0 && platform::steadyTicks() > cutoffTicks_;
  }

  const int64_t cutoffTicks_;
};

// Where a redirect may lead: to HTTPS alone from a request made over HTTPS, so that nothing
// of it goes out in clear text; to HTTP or HTTPS otherwise.
const char* redirectProtocols(const HttpRequest& request) {
  UrlScheme scheme;
  std::string reason;
  const bool https =
      readUrlScheme(request.url, request.assumeHttps, scheme, reason) && scheme.name == "https";
  return https ? "https" : "http,https";
}

// True when the transfer on `handle` ended at a URL of a scheme it made no connection for: a
// scheme or a redirect refused, not a peer that answered outside HTTP (reported alike).
bool endedAtRefusedScheme(CURL* handle) {
  char* url = nullptr;
  char* connected = nullptr;
  curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &url);
  curl_easy_getinfo(handle, CURLINFO_SCHEME, &connected);
  if (url == nullptr) return false;
  const std::string effective(url);
  return connected == nullptr ||
         !equalsIgnoreCase(effective.substr(0, effective.find(':')), connected);
}

// True for a result of certificate verification: the peer's certificate, its issuer or its
// pinned key refused, or a CA or revocation file that cannot be used. The next attempt meets the
// same certificate.
bool isVerificationFailure(int result) {
  return result == CURLE_PEER_FAILED_VERIFICATION || result == CURLE_SSL_CACERT_BADFILE ||
         result == CURLE_SSL_CRL_BADFILE || result == CURLE_SSL_ISSUER_ERROR ||
         result == CURLE_SSL_PINNEDPUBKEYNOTMATCH;
}

// True when the result of the transfer on `handle` is one no later attempt can change: a
// scheme or a redirect refused, a URL libcurl cannot read, a refused certificate, an answer
// over the size limit (announced, or stopped by collectChunk).
bool isFinal(CURL* handle, int result) {
  return result == CURLE_URL_MALFORMAT || result == CURLE_FILESIZE_EXCEEDED ||
         result == CURLE_WRITE_ERROR || isVerificationFailure(result) ||
         (result == CURLE_UNSUPPORTED_PROTOCOL && endedAtRefusedScheme(handle));
}

// Sets the bounds every attempt keeps: the schemes, the connect time, the floor of the
// transfer's speed, the size of an announced answer.
void setBounds(CURL* handle, const HttpRequest& request) {
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, redirectProtocols(request));
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kConnectLimitSeconds);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, kFloorBytesPerSecond);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, kFloorSeconds);
  curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE,
                   static_cast<curl_off_t>(request.answerLimitBytes));
}

// The buffers and bounds of one request's transfer.
struct Transfer {
  explicit Transfer(int64_t cutoffTicks) : watch(cutoffTicks) {}

  ResponseBuffer body;
  ResponseBuffer headerLines;
  AttemptWatch watch;
  char error[CURL_ERROR_SIZE] = {};
};

// Sets every option `request` asks for, and the bounds of each attempt.
void setOptions(CURL* handle, const HttpRequest& request, curl_slist* headers, Transfer& transfer) {
  curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  curl_easy_setopt(handle, CURLOPT_URL, request.url.c_str());
  setBounds(handle, request);
  if (request.timeLimitSeconds > 0) {
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, request.timeLimitSeconds);
  }
  if (request.followRedirects) {
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
  }
  if (request.assumeHttps) curl_easy_setopt(handle, CURLOPT_DEFAULT_PROTOCOL, "https");
  if (headers != nullptr) curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
  if (request.body) curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.body->c_str());
  transfer.body.sizedBy = handle;
  transfer.body.limit = transfer.headerLines.limit = request.answerLimitBytes;
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, collectChunk);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer.body);
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, collectChunk);
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer.headerLines);
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &AttemptWatch::onProgress);
  curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer.watch);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, transfer.error);
}

// The HTTP status of the answer the transfer on `handle` received, and what its "Retry-After"
// asked for.
void readStatus(CURL* handle, HttpAnswer& answer) {
  long status = 0;
  curl_off_t retryAfter = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_getinfo(handle, CURLINFO_RETRY_AFTER, &retryAfter);
  answer.status = status;
  answer.retryAfterSeconds = retryAfter > 0 ? static_cast<int64_t>(retryAfter) : 0;
}

// Runs the transfer on `handle` up to 33 times until one succeeds (libcurl result 0) or fails
// for good (isFinal). Logs each retry from the third attempt on and pauses 2 s before it.
// Returns 0 or the last attempt's result. `url` is used only in log lines. `beforeAttempt` runs
// before each attempt. No retry starts after `cutoffTicks` (when non-zero): its line and pause
// neither. No attempt starts once the process is asked to end: CURLE_ABORTED_BY_CALLBACK,
// unlogged.
int performWithRetry(CURL* handle, const std::string& url, int64_t cutoffTicks,
                     const std::function<void()>& beforeAttempt) {
  const int64_t pauseTicks = kRetryPauseMs * (platform::kTicksPerSecond / 1000);
  int attempts = 0;
  int result = CURLE_OK;
  for (;;) {
    if (platform::interruptRequest() != 0) return CURLE_ABORTED_BY_CALLBACK;
    if (attempts > kMaxRetry) {
      MLOG(ERROR, kMaxRetry) << maskCredentials(url) << " connect failed!!! max retry "
                             << kMaxRetry;
      return result;
    }
    const int64_t startsAt = platform::steadyTicks() + (attempts > 1 ? pauseTicks : 0);
    if (attempts > 0 && cutoffTicks != 0 && startsAt > cutoffTicks) return result;
    if (attempts > 1) {
      MLOG(ERROR, kRetry) << maskCredentials(url) << " connect failed!!! retry " << attempts;
      platform::sleepMillis(kRetryPauseMs);
      if (platform::interruptRequest() != 0) return CURLE_ABORTED_BY_CALLBACK;
    }
    ++attempts;
    if (beforeAttempt) beforeAttempt();
    result = curl_easy_perform(handle);
    if (result == CURLE_OK || isFinal(handle, result)) return result;
  }
}

// Logs why `request` gave up and puts the same into `reason`: libcurl's own explanation of the
// failure when it gave one, its result's text otherwise, but for an answer over the size limit,
// which only this unit's bounds refuse.
void reportFailure(const HttpRequest& request, int result, const char* detail,
                   std::string& reason) {
  const std::string name = request.name.empty() ? request.label : request.name;
  const bool tooLarge = result == CURLE_FILESIZE_EXCEEDED || result == CURLE_WRITE_ERROR;
  std::string why = curl_easy_strerror(static_cast<CURLcode>(result));
  if (tooLarge) {
    why = "answer larger than " + std::to_string(request.answerLimitBytes) + " bytes";
  } else if (*detail != '\0') {
    why = maskCredentials(detail);
  }
  MLOG(ERROR, kRequestFailed) << name << " failed: " << why;
  reason = name + " failed: " + why;
}

}  // namespace

// One handle for the whole process, reset before each request: its connections, TLS
// sessions, resolved names and CA store stay, while every option, header list, buffer and
// callback of an earlier request goes (libcurl keeps no cookies unless asked). A share handle
// would keep the same caches across fresh handles, but each fresh handle would build its CA
// store again for every new connection.
struct TransportSession::State {
  // libcurl's built-in trust names a CA directory and a bundle. A directory that holds its
  // certificates under their subject-hash names is searched by hash as a handshake needs an
  // issuer: nothing is parsed in advance, where the bundle named beside it would be parsed
  // whole for every new connection. The directory is named alone only when it holds the same
  // certificates as the bundle: update-ca-certificates (Debian's /etc/ssl/certs) writes the
  // bundle first and the hash links after it, so a bundle changed later, by hand, may hold
  // more. Without such a directory the bundle is named alone, and libcurl keeps the store
  // it parses from it for the life of the handle. Otherwise libcurl's own choice stands.
  void chooseTrust() {
    char* directory = nullptr;
    char* bundle = nullptr;
    curl_easy_getinfo(handle.get(), CURLINFO_CAPATH, &directory);
    curl_easy_getinfo(handle.get(), CURLINFO_CAINFO, &bundle);
    const bool hashed = directory != nullptr && platform::holdsHashedCertificates(directory);
    if (hashed && (bundle == nullptr || !platform::changedAfter(bundle, directory))) {
      trust = Trust::kDirectoryOnly;
    } else if (!hashed && directory != nullptr && bundle != nullptr) {
      trust = Trust::kBundleOnly;
    }
    // Schannel fails every request whose certificate's revocation servers cannot be reached
    // (closed networks, many proxies); best effort checks revocation wherever it can.
    const char* tls = curl_version_info(CURLVERSION_NOW)->ssl_version;
    revokeBestEffort = tls != nullptr && std::strncmp(tls, "Schannel", 8) == 0;
  }

  // Puts the handle back to libcurl's defaults and names the trust: the CA file alone when one
  // is set, otherwise the session's choice.
  void resetHandle() {
    curl_easy_reset(handle.get());
    if (!g_caFile.empty()) {
      curl_easy_setopt(handle.get(), CURLOPT_CAINFO, g_caFile.c_str());
      curl_easy_setopt(handle.get(), CURLOPT_CAPATH, nullptr);
    } else if (trust == Trust::kDirectoryOnly) {
      curl_easy_setopt(handle.get(), CURLOPT_CAINFO, nullptr);
    } else if (trust == Trust::kBundleOnly) {
      curl_easy_setopt(handle.get(), CURLOPT_CAPATH, nullptr);
    }
    if (revokeBestEffort) {
      curl_easy_setopt(handle.get(), CURLOPT_SSL_OPTIONS,
                       static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
    }
  }

  HandlePtr handle;
  enum class Trust { kDefaults, kDirectoryOnly, kBundleOnly } trust = Trust::kDefaults;
  bool revokeBestEffort = false;
};

namespace {

TransportSession* g_currentSession = nullptr;

}  // namespace

TransportSession::TransportSession() : state_(new State) {
  curl_global_init(CURL_GLOBAL_ALL);
  state_->handle.reset(curl_easy_init());
  if (state_->handle) state_->chooseTrust();
  if (g_currentSession == nullptr) g_currentSession = this;
}

TransportSession::~TransportSession() {
  if (g_currentSession == this) g_currentSession = nullptr;
  state_->handle.reset();
  curl_global_cleanup();
}

TransportSession* TransportSession::current() { return g_currentSession; }

bool TransportSession::perform(const HttpRequest& request, HttpAnswer& answer,
                               std::string& reason) {
  CURL* handle = state_->handle.get();
  if (handle == nullptr) {
    reportFailure(request, CURLE_FAILED_INIT, "", reason);
    return false;
  }
  const int64_t cutoff = cutoffOf(request.deadlineTicks);
  Transfer transfer(cutoff);
  HeaderListPtr headers = makeHeaderList(request.headerLines);
  state_->resetHandle();
  setOptions(handle, request, headers.get(), transfer);
  int result = performWithRetry(handle, request.url, cutoff, [&transfer] {
    transfer.body.clear();
    transfer.headerLines.clear();
  });
  if (result == CURLE_OK) readStatus(handle, answer);
  // The handle keeps no pointer into this request's list and buffers once it returns.
  state_->resetHandle();
  headers.reset();
  if (result != CURLE_OK) {
    if (platform::interruptRequest() == 0) reportFailure(request, result, transfer.error, reason);
    return false;
  }
  answer.body = utf8OrEmpty(std::move(transfer.body.text));
  answer.headerText = utf8OrEmpty(std::move(transfer.headerLines.text));
  return true;
}

bool isPassingTrouble(long status) {
  return status == 502 || status == 503 || status == 504 || status == 429;
}

void trustOnlyCaFile(const std::string& path) { g_caFile = path; }

bool performRequest(const HttpRequest& request, HttpAnswer& answer, std::string& reason) {
  if (TransportSession* session = TransportSession::current()) {
    return session->perform(request, answer, reason);
  }
  TransportSession own;
  return own.perform(request, answer, reason);
}

std::vector<std::string> jsonHeaderLines(const std::string& authorization) {
  return {"Authorization:" + authorization, "Content-Type: application/json"};
}

size_t collectChunk(char* data, size_t size, size_t count, void* userdata) {
  size_t total = size * count;
  ResponseBuffer* buffer = static_cast<ResponseBuffer*>(userdata);
  // Sized once from the announced length: a large answer is then neither copied nor
  // over-allocated as it grows.
  curl_off_t announced = -1;
  if (buffer->text.empty() && buffer->sizedBy != nullptr &&
      curl_easy_getinfo(buffer->sizedBy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) ==
          CURLE_OK &&
      announced > 0 && announced <= buffer->limit) {
    buffer->text.reserve(static_cast<size_t>(announced));
  }
  if (total > static_cast<uint64_t>(buffer->limit - buffer->received)) return 0;
  buffer->received += static_cast<int64_t>(total);
  const void* nul = total == 0 ? nullptr : std::memchr(data, '\0', total);
  size_t kept = nul == nullptr ? total : static_cast<size_t>(static_cast<const char*>(nul) - data);
  buffer->text.append(data, kept);
  return total;
}
