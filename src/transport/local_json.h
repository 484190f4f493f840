// Received JSON: parsed strictly from its UTF-8 text, as it arrived, whatever the local code page
// can represent; its strings handed out in the local code page. Plain JSON reading is
// util/json's.
#pragma once

#include <rapidjson/document.h>

#include <cstddef>
#include <initializer_list>
#include <string>

// The most values (scalars, keys, objects and arrays) a received document may hold: the
// parsed document then takes at most a few dozen bytes a value, whatever the answer holds.
const size_t kMaxReceivedValues = 2000000;

// An answer as received (UTF-8), parsed. The document is parsed in place, so its strings live
// in this object.
class LocalJson {
 public:
  // Parses `utf8Text` up to its first NUL; `skipBom` drops a leading EF, BB, BF byte by byte
  // first. True when it is one strict JSON document, well-formed UTF-8, of at most
  // kMaxReceivedValues values. Text moved in is parsed where it lies, without a copy.
  bool parse(std::string utf8Text, bool skipBom = false);
  const rapidjson::Document& doc() const { return doc_; }

  // getLocalStringMember on the document's top object, moving a plain-ASCII value out of the
  // parsed text instead of copying it. Leaves the document unusable: read it last.
  bool takeLocalStringMember(const char* name, std::string& out);

 private:
  std::string buffer_;
  rapidjson::Document doc_;
};

// The member `name` when it is a string (up to its first NUL), in the local code page, or in
// UTF-8 as decoded when it holds a character the code page lacks; false when it is no string.
// Use it on documents from LocalJson.
bool getLocalStringMember(const rapidjson::Value& object, const char* name, std::string& out);

// The most bytes of a received text that a log line shows.
const size_t kLoggedTextBytes = 200;

// The members `names` of `object` that are strings (in the local code page, as
// getLocalStringMember gives them) or integers, as "name: value" joined by ", ", each value
// made fit for a log line (loggableText, kLoggedTextBytes); empty when it holds none of them.
std::string loggableMembers(const rapidjson::Value& object,
                            std::initializer_list<const char*> names);

// getLocalStringMember for a value that is sent later in a header line, such as a token:
// false, leaving `out` alone, also when it holds a CR or LF, which would start a header of
// the answerer's choosing.
bool getHeaderSafeStringMember(const rapidjson::Value& object, const char* name, std::string& out);
