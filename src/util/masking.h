// Hiding secrets in texts that go to logs.
#pragma once

#include <string>

// `url` (or a request target) with the value of every "credential" query parameter replaced
// by "***".
std::string maskCredentials(const std::string& url);
