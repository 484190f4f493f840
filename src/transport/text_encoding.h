// Conversion of received texts into the local code page (GBK, code page 936).
#pragma once

#include <string>

// `utf8` converted to the local code page; the empty text when it is not well-formed
// UTF-8 or holds a character the code page cannot represent.
std::string utf8ToLocal(const std::string& utf8);

// `local` back in UTF-8, for reading received JSON; empty when it is not valid GBK.
std::string localToUtf8(const std::string& local);
