// Texts that go to logs: secrets hidden, and texts from outside kept to one short line.
#pragma once

#include <cstddef>
#include <string>

// `url` (or a request target) with the value of every "credential" query parameter replaced
// by "***".
std::string maskCredentials(const std::string& url);

// `text` fit for a log line: its first `maxBytes` bytes, followed by "..." when it was longer,
// with each control character escaped (escapeControlCharacters).
std::string loggableText(const std::string& text, size_t maxBytes);
