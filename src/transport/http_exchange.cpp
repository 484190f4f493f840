// One HTTP exchange through libcurl: the buffers, the collecting callback, the retry
// rule, and the procedure every request shares.
#include "transport/http_exchange.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <utility>

#include "platform/platform.h"
#include "run/log.h"
#include "transport/text_encoding.h"

namespace {

const int kMaxRetry = 32;
const unsigned kRetryPauseMs = 2000;
// Line numbers the retry log lines have always carried; log watchers match on them.
const int kMaxRetryLogLine = 173;
const int kRetryLogLine = 178;

}  // namespace

size_t collectChunk(char* data, size_t size, size_t count, void* userdata) {
  size_t total = size * count;
  ResponseBuffer* buffer = static_cast<ResponseBuffer*>(userdata);
  const void* nul = total == 0 ? nullptr : std::memchr(data, '\0', total);
  size_t kept = nul == nullptr ? total : static_cast<size_t>(static_cast<const char*>(nul) - data);
  buffer->text.append(data, kept);
  return total;
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

HeaderList::~HeaderList() { release(); }

void HeaderList::append(const std::string& line) {
  curl_slist* grown = curl_slist_append(head_, line.c_str());
  if (grown != nullptr) head_ = grown;
}

void HeaderList::release() {
  curl_slist_free_all(head_);
  head_ = nullptr;
}

HttpRequest::HttpRequest() : handle_(curl_easy_init()) {}

void HttpRequest::setFollowRedirects() {
  // Without a limit libcurl would follow a redirect loop for ever.
  curl_easy_setopt(handle_.get(), CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle_.get(), CURLOPT_MAXREDIRS, 30L);
}

void HttpRequest::setHeaderOption() {
  curl_easy_setopt(handle_.get(), CURLOPT_HTTPHEADER, headers_.head());
}

void HttpRequest::setCallbackOptions() {
  curl_easy_setopt(handle_.get(), CURLOPT_WRITEFUNCTION, collectChunk);
  curl_easy_setopt(handle_.get(), CURLOPT_WRITEDATA, &bodyBuffer_);
  curl_easy_setopt(handle_.get(), CURLOPT_HEADERFUNCTION, collectChunk);
  curl_easy_setopt(handle_.get(), CURLOPT_HEADERDATA, &headerBuffer_);
}

bool HttpRequest::perform(const std::string& url) {
  int result = performWithRetry(handle_.get(), url, {&bodyBuffer_, &headerBuffer_});
  handle_.reset();
  headers_.release();
  if (result != CURLE_OK) return false;
  body_ = utf8ToLocal(std::move(bodyBuffer_.text));
  headerText_ = utf8ToLocal(std::move(headerBuffer_.text));
  // Large answers: give back what the conversion did not take over.
  std::string().swap(bodyBuffer_.text);
  std::string().swap(headerBuffer_.text);
  return true;
}

void HttpRequest::printBlocks(const std::string& label) const {
  std::cout << label << " CURLOPT_WRITEFUNCTION out:\n" << body_ << "\n" << std::flush;
  std::cout << label << " CURLOPT_HEADERFUNCTION out:\n" << headerText_ << "\n" << std::flush;
}
