// Received JSON in the local code page: parsed strictly from its UTF-8 form, its strings
// handed out in the local code page again. Plain JSON reading is util/json's.
#pragma once

#include <rapidjson/document.h>

#include <string>

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
