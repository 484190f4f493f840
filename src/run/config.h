// Reading the configuration file: helpers of TranslateJob::loadConfig.
#pragma once

#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Default paths of the endpoints, used when the configuration does not name them.
extern const char kDefaultGatewayTokenUrl[];
extern const char kDefaultProjectUrl[];
extern const char kDefaultTokenUrl[];
extern const char kDefaultTranslateUrl[];
extern const char kDefaultStatusUrl[];

// The file at `path` up to its first NUL byte, of its first `limit` bytes, in `text`. False,
// with the system's reason in `reason`, when it cannot be opened or read.
bool readTextFile(const std::string& path, std::string& text, std::string& reason,
                  size_t limit = SIZE_MAX);

// The line a failed load writes on standard error: "marluneTranslate: <path>: <reason>" and a
// line end, each control character escaped so that it stays one line.
std::string loadFailureLine(const std::string& path, const std::string& reason);

// Assigns `field` and returns true when `name` is a non-empty string member of `doc`.
bool getConfigString(const rapidjson::Value& doc, const char* name, std::string& field);

// The decimal text of "source"."fileId" in the JSON text `requestBody` when it is an
// integer that fits in a signed 64-bit integer; empty otherwise.
std::string extractFileId(const std::string& requestBody);
