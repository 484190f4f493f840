// JSON read and written with RapidJSON: strict parsing, member look-up, and the writing
// helpers the client's writers share. Texts are taken as they are, in whatever encoding.
#pragma once

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <string>

// Parses `text` up to its first NUL as one strict JSON document. The parser keeps no
// recursion, so hostile nesting cannot exhaust the stack. True when it parsed.
bool parseJson(const std::string& text, rapidjson::Document& doc);

// The same, after dropping a leading byte-order mark byte by byte: an EF, then a BB,
// then a BF, each skipped when it comes next.
bool parseJsonSkippingBom(const std::string& text, rapidjson::Document& doc);

// Where `text` (NUL-terminated) goes on after the leading byte-order mark bytes that
// parseJsonSkippingBom drops.
const char* afterByteOrderMark(const char* text);

// The member `name` of `object` when `object` is an object holding it (first occurrence), else
// nullptr.
const rapidjson::Value* findMember(const rapidjson::Value& object, const char* name);

// The member `name` as text when it is a string (up to its first NUL); false otherwise.
bool getStringMember(const rapidjson::Value& object, const char* name, std::string& out);

// Writes compact JSON into memory.
using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

// Everything written into `buffer`, NUL bytes included.
std::string writtenText(const rapidjson::StringBuffer& buffer);

// Compact JSON text of `value`, written without recursion.
std::string writeCompactJson(const rapidjson::Value& value);
