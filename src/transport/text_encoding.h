// Received texts: checked as UTF-8, and converted into the local code page (GBK, code page 936).
#pragma once

#include <string>

// `utf8` converted to the local code page; the empty text when it is not well-formed
// UTF-8 or holds a character the code page cannot represent.
// Plain ASCII is returned as it is, without a copy when the argument is moved in.
std::string utf8ToLocal(std::string utf8);

// The same for the text [begin, end), converted piece by piece: besides the result it takes
// no more than a small, fixed amount of memory, whatever the text's length.
std::string utf8ToLocal(const char* begin, const char* end);

// True when [begin, end) is well-formed UTF-8: no stray or missing continuation byte, no
// overlong form, no UTF-16 surrogate, nothing above U+10FFFF.
bool isUtf8(const char* begin, const char* end);

// `text` when it is well-formed UTF-8 (moved, not copied), the empty text otherwise.
std::string utf8OrEmpty(std::string text);

// True when every byte of [begin, end) is below 0x80: the same text in UTF-8 and locally.
bool isAscii(const char* begin, const char* end);

// isAscii, and no byte is NUL either: the text needs neither conversion nor cutting.
bool isAsciiWithoutNul(const char* begin, const char* end);
