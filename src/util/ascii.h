// ASCII-only text helpers: letter case is folded for A-Z and a-z alone, so multi-byte
// characters of any code page pass through untouched.
#pragma once

#include <string>

// True when `a` and `b` are equal once ASCII letters are folded to one case.
bool equalsIgnoreCase(const std::string& a, const std::string& b);

// `text` with A-Z turned into a-z; every other byte unchanged.
std::string toLowerAscii(std::string text);

// True when `text` holds a control character: a byte below 0x20, or 0x7F.
bool holdsControlCharacter(const std::string& text);

// `text` with each control character written as "\x" and two lower-case hexadecimal digits,
// so that it stays on one line and moves no terminal; every other byte unchanged.
std::string escapeControlCharacters(const std::string& text);
