// Local calendar time for the emulator's log and its token expiry texts.
#pragma once

#include <ctime>
#include <string>

// "YYYY-MM-DD hh:mm:ss" of `seconds` since the epoch, in the local time zone.
inline std::string localTimeText(std::time_t seconds) {
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  char text[32];
  std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
  return text;
}
