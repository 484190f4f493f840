// URLs read as libcurl reads them: its own URL parser, and the scheme a transfer gives a URL
// that names none.
#pragma once

#include <string>

// What a URL is made to be requested with.
struct UrlScheme {
  std::string name;    // lower case: "http", "https", "ftp", ...
  bool named = false;  // written in the URL; otherwise the one a transfer would use
};

// Reads `url` with libcurl's URL parser. True with its scheme in `scheme`; a URL without one
// gets "https" when `assumeHttps`, otherwise libcurl's guess from the host name ("http" but
// for names such as "ftp.example.org"). False with the parser's reason in `reason` when it
// rejects the URL.
bool readUrlScheme(const std::string& url, bool assumeHttps, UrlScheme& scheme,
                   std::string& reason);

// True when `scheme` is "http" or "https".
bool isHttpScheme(const std::string& scheme);
