// One HTTP exchange through libcurl: the buffers, the collecting callback, the retry
// rule, and the procedure every request shares. A request states only its own URL,
// method, header lines, options and how it reads the answer.
#pragma once

#include <curl/curl.h>

#include <initializer_list>
#include <memory>
#include <string>

// Growable text that collects a response body or the response header lines.
struct ResponseBuffer {
  std::string text;
};

// Time limit of the requests that have one (service token, project lookup), in seconds.
const long kRequestTimeLimitSeconds = 20;

// libcurl write/header callback: appends the chunk's bytes before its first NUL to the
// ResponseBuffer at `userdata`, and reports the whole chunk consumed.
size_t collectChunk(char* data, size_t size, size_t count, void* userdata);

// Runs the transfer on `handle` up to 33 times until one succeeds (libcurl result 0).
// Logs each retry from the third attempt on and pauses 2 s before it. Returns 0 or the
// last attempt's result. `url` is used only in log lines. `buffers` are emptied before
// each attempt, so an answer cut off midway leaves nothing in front of the next one.
int performWithRetry(CURL* handle, const std::string& url,
                     std::initializer_list<ResponseBuffer*> buffers = {});

// `url` with the value of any "credential" query parameter replaced by "***".
std::string maskCredentials(const std::string& url);

// A libcurl header list that frees itself.
class HeaderList {
 public:
  HeaderList() = default;
  ~HeaderList();
  HeaderList(const HeaderList&) = delete;
  HeaderList& operator=(const HeaderList&) = delete;

  // Appends one complete header line ("Name:value").
  void append(const std::string& line);
  curl_slist* head() const { return head_; }
  // Frees the list now; the list is empty afterwards.
  void release();

 private:
  curl_slist* head_ = nullptr;
};

// One request: owns the transfer handle, its header list and both buffers.
class HttpRequest {
 public:
  HttpRequest();
  HttpRequest(const HttpRequest&) = delete;
  HttpRequest& operator=(const HttpRequest&) = delete;

  // False when libcurl could not create a transfer; the request then fails at once.
  bool valid() const { return handle_ != nullptr; }
  CURL* handle() const { return handle_.get(); }
  HeaderList& headers() { return headers_; }

  // Follows redirects (CURLOPT_FOLLOWLOCATION), at most 30 in a row (CURLOPT_MAXREDIRS).
  void setFollowRedirects();
  // Sets CURLOPT_HTTPHEADER to the header list as it now stands.
  void setHeaderOption();
  // Sets the body and header callbacks with their buffers, the last options of every request.
  void setCallbackOptions();

  // Runs the exchange with retries, then releases the handle and the header list.
  // On success the body and header texts are converted to the local code page.
  bool perform(const std::string& url);

  // Texts of a performed exchange, in the local code page (empty when not convertible).
  const std::string& body() const { return body_; }
  const std::string& headerText() const { return headerText_; }

  // Writes the two console blocks "<label> CURLOPT_WRITEFUNCTION out:" and
  // "<label> CURLOPT_HEADERFUNCTION out:" with the converted texts, flushing each.
  void printBlocks(const std::string& label) const;

 private:
  struct HandleCloser {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
  };

  ResponseBuffer bodyBuffer_;
  ResponseBuffer headerBuffer_;
  std::unique_ptr<CURL, HandleCloser> handle_;
  HeaderList headers_;
  std::string body_;
  std::string headerText_;
};
