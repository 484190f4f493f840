// Finding where JSON string content needs attention, sixteen bytes at a time: a JSON string
// carries every byte as it is except '"', '\' and those below 0x20. Used to parse and to
// write answers of tens of megabytes.
#pragma once

// The first position in [begin, end) from which the next 16 bytes hold a byte that a JSON
// string cannot carry as it is, or from which fewer than 16 bytes are left. Every byte
// before it can be carried as it is. Reads nothing outside [begin, end).
const char* skipPlainJsonText(const char* begin, const char* end);
