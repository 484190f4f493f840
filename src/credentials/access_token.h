// Reading the token's expiry time sent by the service.
#pragma once

#include <cstdint>
#include <string>

// Reads "YYYY-MM-DD hh:mm:ss" as a local standard time (no daylight saving) and stores its
// seconds since the epoch in `seconds`. Leading white space is skipped, the blank between date
// and time may be any run of white space or none, and whatever follows the seconds is ignored.
// False, leaving `seconds` alone, when a field is missing or out of range, a separator differs,
// or the time cannot be represented.
bool parseExpireTime(const std::string& text, int64_t& seconds);
