// UTF-8 as the journal writes it, so that it always reads as valid JSON: texts checked, cut
// between characters, and shown with what is no character replaced.
#pragma once

#include <cstddef>
#include <string>

// True when `text` is well-formed UTF-8 (no overlong form, surrogate or code point above
// U+10FFFF).
bool isUtf8(const std::string& text);

// The largest cut of `text` at no more than `size` bytes that does not split a well-formed
// character; `text.size()` when that is smaller.
size_t characterBoundary(const std::string& text, size_t size);

// `text` with every byte that begins no well-formed character replaced by U+FFFD.
std::string validUtf8(const std::string& text);
