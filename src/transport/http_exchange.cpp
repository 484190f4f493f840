// One HTTP exchange through libcurl: the request's options, the collecting callback, the
// retry rule and the console blocks.
#include "transport/http_exchange.h"

#include <cstring>
#include <iostream>
#include <memory>
#include <utility>

#include "platform/platform.h"
#include "transport/text_encoding.h"
#include "util/log.h"

namespace {

const int kMaxRetry = 32;
const unsigned kRetryPauseMs = 2000;
// Line numbers the retry log lines have always carried; log watchers match on them.
const int kMaxRetryLogLine = 173;
const int kRetryLogLine = 178;
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

// Sets every option `request` asks for; the buffers receive the body and the header lines.
void setOptions(CURL* handle, const HttpRequest& request, curl_slist* headers, ResponseBuffer& body,
                ResponseBuffer& headerLines) {
  curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  curl_easy_setopt(handle, CURLOPT_URL, request.url.c_str());
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
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, collectChunk);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, collectChunk);
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, &headerLines);
}

}  // namespace

bool performRequest(const HttpRequest& request, HttpAnswer& answer) {
  ResponseBuffer body;
  ResponseBuffer headerLines;
  HandlePtr handle(curl_easy_init());
  if (!handle) return false;
  HeaderListPtr headers = makeHeaderList(request.headerLines);
  setOptions(handle.get(), request, headers.get(), body, headerLines);
  int result = performWithRetry(handle.get(), request.url, {&body, &headerLines});
  handle.reset();
  headers.reset();
  if (result != CURLE_OK) return false;
  answer.body = utf8ToLocal(std::move(body.text));
  answer.headerText = utf8ToLocal(std::move(headerLines.text));
  return true;
}

bool performAndPrint(const HttpRequest& request, HttpAnswer& answer) {
  if (!performRequest(request, answer)) return false;
  printAnswerBlocks(request.label, answer);
  return true;
}

void printAnswerBlocks(const std::string& label, const HttpAnswer& answer) {
  std::cout << label << " CURLOPT_WRITEFUNCTION out:\n" << answer.body << "\n" << std::flush;
  std::cout << label << " CURLOPT_HEADERFUNCTION out:\n" << answer.headerText << "\n" << std::flush;
}

size_t collectChunk(char* data, size_t size, size_t count, void* userdata) {
  size_t total = size * count;
  ResponseBuffer* buffer = static_cast<ResponseBuffer*>(userdata);
  const void* nul = total == 0 ? nullptr : std::memchr(data, '\0', total);
  size_t kept = nul == nullptr ? total : static_cast<size_t>(static_cast<const char*>(nul) - data);
  buffer->text.append(data, kept);
  return total;
}

int performWithRetry(CURL* handle, const std::string& url,
                     std::initializer_list<ResponseBuffer*> buffers) {
  int attempts = 0;
  int result = CURLE_OK;
  for (;;) {
    if (attempts > kMaxRetry) {
      MLOG_AT(ERROR, kMaxRetryLogLine)
          << maskCredentials(url) << " connect failed!!! max retry " << kMaxRetry;
      return result;
    }
    if (attempts > 1) {
      MLOG_AT(ERROR, kRetryLogLine)
          << maskCredentials(url) << " connect failed!!! retry " << attempts;
      platform::sleepMillis(kRetryPauseMs);
    }
    ++attempts;
    for (ResponseBuffer* buffer : buffers) buffer->text.clear();
    result = curl_easy_perform(handle);
    if (result == CURLE_OK) return CURLE_OK;
  }
}

std::string maskCredentials(const std::string& url) {
  static const char kName[] = "credential=";
  const size_t nameLength = sizeof(kName) - 1;
  std::string masked = url;
  size_t query = masked.find('?');
  if (query == std::string::npos) return masked;
  // Every parameter after the first "?", whether it follows "&" or a further "?".
  for (size_t pos = masked.find(kName, query); pos != std::string::npos;
       pos = masked.find(kName, pos + 1)) {
    if (masked[pos - 1] != '?' && masked[pos - 1] != '&') continue;
    size_t valueStart = pos + nameLength;
    size_t valueEnd = masked.find_first_of("&?#", valueStart);
    if (valueEnd == std::string::npos) valueEnd = masked.size();
    masked.replace(valueStart, valueEnd - valueStart, "***");
  }
  return masked;
}
