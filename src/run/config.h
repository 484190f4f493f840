// Reading the configuration file: helpers of TranslateJob::loadConfig.
#pragma once

#include <rapidjson/document.h>

#include <string>

// Default paths of the endpoints, used when the configuration does not name them.
extern const char kDefaultGatewayTokenUrl[];
extern const char kDefaultProjectUrl[];
extern const char kDefaultTokenUrl[];
extern const char kDefaultTranslateUrl[];
extern const char kDefaultStatusUrl[];

// The whole file up to its first NUL byte; empty when it cannot be read.
std::string readTextFile(std::string path);

// Assigns `field` and returns true when `name` is a non-empty string member of `doc`.
bool getConfigString(const rapidjson::Value& doc, const char* name, std::string& field);

// The decimal text of "source"."fileId" in the JSON text `requestBody` when it is an
// integer that fits in a signed 64-bit integer; empty otherwise.
std::string extractFileId(const std::string& requestBody);
