// Conversion of received texts into the local code page (GBK, code page 936).
#pragma once

#include <string>

// `utf8` converted to the local code page; the empty text when it is not well-formed
// UTF-8 or holds a character the code page cannot represent.
// Plain ASCII is returned as it is, without a copy when the argument is moved in.
std::string utf8ToLocal(std::string utf8);

// `local` back in UTF-8, for reading received JSON; empty when it is not valid GBK.
std::string localToUtf8(std::string local);

// True when every byte of [begin, end) is below 0x80: the same text in UTF-8 and locally.
bool isAscii(const char* begin, const char* end);

// isAscii, and no byte is NUL either: the text needs neither conversion nor cutting.
bool isAsciiWithoutNul(const char* begin, const char* end);
