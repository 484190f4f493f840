// Strict JSON parsing of received and configured texts.
#pragma once

#include <rapidjson/document.h>

#include <string>

// Parses `text` up to its first NUL as one strict JSON document. The parser keeps no
// recursion, so hostile nesting cannot exhaust the stack. True when it parsed.
bool parseJson(const std::string& text, rapidjson::Document& doc);

// The same, after dropping a leading byte-order mark byte by byte: an EF, then a BB,
// then a BF, each skipped when it comes next.
bool parseJsonSkippingBom(const std::string& text, rapidjson::Document& doc);

// An answer already converted to the local code page, parsed. The JSON is read from the
// answer's UTF-8 form: in the local code page the second byte of many characters is a
// backslash or a quotation mark, which a JSON parser would take as syntax. The document
// is parsed in place, so its strings live in this object.
class LocalJson {
 public:
  // Parses `localText` up to its first NUL; `skipBom` drops a leading EF, BB, BF byte by
  // byte first. True when it is one strict JSON document. Plain ASCII moved in is parsed
  // where it lies, without a copy.
  bool parse(std::string localText, bool skipBom = false);
  const rapidjson::Document& doc() const { return doc_; }

  // getLocalStringMember on the document's top object, moving a plain-ASCII value out of the
  // parsed text instead of copying it. Leaves the document unusable: read it last.
  bool takeLocalStringMember(const char* name, std::string& out);

 private:
  std::string buffer_;
  rapidjson::Document doc_;
};

// The member `name` as local-code-page text when it is a string (up to its first NUL);
// false otherwise. Use it on documents from LocalJson.
bool getLocalStringMember(const rapidjson::Value& object, const char* name, std::string& out);

// getLocalStringMember for a value that is sent later in a header line, such as a token:
// false, leaving `out` alone, also when it holds a CR or LF, which would start a header of
// the answerer's choosing.
bool getHeaderSafeStringMember(const rapidjson::Value& object, const char* name, std::string& out);

// The member `name` of `object` when `object` is an object holding it (first occurrence), else
// nullptr.
const rapidjson::Value* findMember(const rapidjson::Value& object, const char* name);

// The member `name` as text when it is a string (up to its first NUL); false otherwise.
bool getStringMember(const rapidjson::Value& object, const char* name, std::string& out);
