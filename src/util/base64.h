// Standard Base64 (RFC 4648, "=" padding) on one line, through OpenSSL's Base64 filter: the
// gateway signature and the service's Basic credential are written with it.
#pragma once

#include <string>

// The Base64 text of every byte of `bytes`, without line breaks; empty for empty input.
std::string base64Encode(const std::string& bytes);
