// Reading the gateway's token answer.
#pragma once

#include <string>

// The string "access_token" of an answer object (local code page), or empty; a token
// holding a line break is refused.
std::string gatewayTokenFromAnswer(const std::string& answer);
