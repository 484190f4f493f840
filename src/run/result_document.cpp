// The result document through RapidJSON's Writer, into memory or straight into a file.
#include "run/result_document.h"

#include <rapidjson/filewritestream.h>
#include <rapidjson/writer.h>

#include <cstring>

#include "platform/file_replace.h"
#include "util/json.h"

namespace {

template <typename Stream>
void writeString(rapidjson::Writer<Stream>& writer, const std::string& text) {
  writer.String(text.c_str(), static_cast<rapidjson::SizeType>(strnlen(text.c_str(), text.size())));
}

template <typename Stream>
void writeDocument(rapidjson::Writer<Stream>& writer, bool succeeded, const std::string& message,
                   const std::string& fileId) {
  writer.StartObject();
  writer.Key("code");
  writer.String(succeeded ? "success" : "failed");
  writer.Key("message");
  writeString(writer, message);
  writer.Key("data");
  writer.StartObject();
  writer.Key("fileitemid");
  writeString(writer, fileId);
  writer.EndObject();
  writer.EndObject();
}

}  // namespace

std::string buildResultDocument(bool succeeded, const std::string& message,
                                const std::string& fileId) {
  rapidjson::StringBuffer buffer(nullptr, message.size() + fileId.size() + 64);
  JsonWriter writer(buffer);
  writeDocument(writer, succeeded, message, fileId);
  return writtenText(buffer);
}

bool writeResultDocument(std::FILE* file, bool succeeded, const std::string& message,
                         const std::string& fileId) {
  char staging[65536];
  rapidjson::FileWriteStream stream(file, staging, sizeof(staging));
  rapidjson::Writer<rapidjson::FileWriteStream> writer(stream);
  writeDocument(writer, succeeded, message, fileId);
  stream.Flush();
  return std::ferror(file) == 0;
}

bool writeResultFile(const std::string& localPath, bool succeeded, const std::string& message,
                     const std::string& fileId, std::string& reason) {
  return platform::replaceFileWith(
      localPath,
      [&](std::FILE* file) { return writeResultDocument(file, succeeded, message, fileId); },
      reason);
}
