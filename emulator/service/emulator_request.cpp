// Reading requests byte for byte, the way the gateway and the service see them.
#include "service/emulator_request.h"

#include <openssl/evp.h>

#include <rapidjson/reader.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "util/ascii.h"

namespace {

// Finds the integer "source"."fileId" of a JSON object as the parser goes, keeping nothing
// else: a hostile body of many values or deep nesting takes no memory to read. As a document's
// look-up would, it takes the first member of each name.
struct FileIdReader : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, FileIdReader> {
  // Deeper nesting is refused: no translate request nests that deep.
  static const int kMaxDepth = 256;

  bool StartObject() {
    if (depth == 0) rootIsObject = true;
    if (awaiting == kSource) inSource = true;
    return begin();
  }
  bool EndObject(rapidjson::SizeType) {
    if (inSource && depth == 2) inSource = false;
    --depth;
    return true;
  }
  bool StartArray() { return begin(); }
  bool EndArray(rapidjson::SizeType) {
    --depth;
    return true;
  }
  bool Key(const char* name, rapidjson::SizeType length, bool) {
    const auto is = [name, length](const char* wanted) {
      return length == std::strlen(wanted) && std::memcmp(name, wanted, length) == 0;
    };
    if (depth == 1 && !sourceSeen && is("source")) {
      sourceSeen = true;
      awaiting = kSource;
    } else if (inSource && depth == 2 && !fileIdSeen && is("fileId")) {
      fileIdSeen = true;
      awaiting = kFileId;
    }
    return true;
  }
  bool Int(int value) { return integer(value); }
  bool Uint(unsigned value) { return integer(value); }
  bool Int64(int64_t value) { return integer(value); }
  bool Uint64(uint64_t value) {
    return value <= static_cast<uint64_t>(INT64_MAX) ? integer(static_cast<int64_t>(value))
                                                     : Default();
  }
  // Any other value.
  bool Default() {
    awaiting = kNothing;
    return rootIsObject;
  }

  bool begin() {
    awaiting = kNothing;
    return ++depth <= kMaxDepth && rootIsObject;
  }
  bool integer(int64_t value) {
    if (awaiting == kFileId) {
      found = true;
      id = value;
    }
    return Default();
  }

  enum { kNothing, kSource, kFileId } awaiting = kNothing;
  int depth = 0;
  bool rootIsObject = false;
  bool sourceSeen = false;
  bool inSource = false;
  bool fileIdSeen = false;
  bool found = false;
  int64_t id = 0;
};

}  // namespace

ParameterMap parseRawParameters(const std::string& text) {
  ParameterMap parameters;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('&', start);
    if (end == std::string::npos) end = text.size();
    std::string piece = text.substr(start, end - start);
    if (!piece.empty()) {
      size_t equals = piece.find('=');
      if (equals == std::string::npos) {
        parameters.emplace(piece, std::string());
      } else {
        parameters.emplace(piece.substr(0, equals), piece.substr(equals + 1));
      }
    }
    start = end + 1;
  }
  return parameters;
}

std::string rawParameter(const std::string& text, const std::string& name) {
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('&', start);
    if (end == std::string::npos) end = text.size();
    const size_t equals = text.find('=', start);
    const size_t nameEnd = std::min(equals, end);
    if (nameEnd - start == name.size() && text.compare(start, name.size(), name) == 0) {
      return nameEnd == end ? std::string() : text.substr(equals + 1, end - equals - 1);
    }
    start = end + 1;
  }
  return std::string();
}

bool takeCredential(const std::string& authorization, const std::string& scheme,
                    std::string& token) {
  if (authorization.size() < scheme.size() + 1 || authorization[scheme.size()] != ' ') {
    return false;
  }
  if (!equalsIgnoreCase(authorization.substr(0, scheme.size()), scheme)) return false;
  token = authorization.substr(scheme.size() + 1);
  return true;
}

bool parseFileId(const std::string& text, int64_t& id) {
  size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
  if (text.size() == digits || text.size() - digits > 18) return false;
  for (size_t i = digits; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  id = std::strtoll(text.c_str(), nullptr, 10);
  return true;
}

bool commitFileId(const std::string& body, int64_t& id) {
  FileIdReader reader;
  rapidjson::Reader parser;
  rapidjson::StringStream text(body.c_str());
  if (parser.Parse<rapidjson::kParseIterativeFlag>(text, reader).IsError()) return false;
  id = reader.id;
  return reader.found;
}

bool statusFileId(const std::string& query, int64_t& id) {
  return parseFileId(rawParameter(query, "fileId"), id);
}

std::string encodeBase64(const std::string& bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&text[0]),
                               reinterpret_cast<const unsigned char*>(bytes.data()),
                               static_cast<int>(bytes.size()));
  text.resize(length < 0 ? 0 : static_cast<size_t>(length));
  return text;
}
