// Reading requests byte for byte, the way the gateway and the service see them.
#include "service/emulator_request.h"

#include <openssl/evp.h>

#include <cstdlib>

#include "util/ascii.h"
#include "util/json.h"

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
  rapidjson::Document doc;
  if (!parseJson(body, doc) || !doc.IsObject()) return false;
  const rapidjson::Value* source = findMember(doc, "source");
  const rapidjson::Value* fileId = source != nullptr ? findMember(*source, "fileId") : nullptr;
  if (fileId == nullptr || !fileId->IsInt64()) return false;
  id = fileId->GetInt64();
  return true;
}

bool statusFileId(const std::string& query, int64_t& id) {
  const ParameterMap parameters = parseRawParameters(query);
  auto found = parameters.find("fileId");
  return found != parameters.end() && parseFileId(found->second, id);
}

std::string encodeBase64(const std::string& bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&text[0]),
                               reinterpret_cast<const unsigned char*>(bytes.data()),
                               static_cast<int>(bytes.size()));
  text.resize(length < 0 ? 0 : static_cast<size_t>(length));
  return text;
}
