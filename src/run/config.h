// Reading the configuration file: the pieces TranslateJob::loadConfig is made of.
#pragma once

#include <rapidjson/document.h>

#include <string>

class TranslateJob;

// Reads the configuration file at `path` into `doc`. False, with the reason, when it cannot be
// read or is not one JSON object; a parser's reason gives the byte of the file it stopped at.
bool readConfigDocument(const std::string& path, rapidjson::Document& doc, std::string& reason);

// Fills `job` from `doc`, key by key in the order of configKeys(). False at the first key whose
// absence, or an unusable "requestbody", fails the load, with its message in the job's
// `message`; a key whose absence is only recorded leaves its message there and goes on.
bool readSettings(const rapidjson::Value& doc, TranslateJob& job);

// Why the job's settings cannot be sent, or empty: a control character in what goes into a URL
// or a header line would end the line or break the URL; the base URLs, and the URLs joined from
// them, must be HTTP or HTTPS URLs that libcurl reads; a "cafile" must be readable.
std::string unsendableSetting(const TranslateJob& job);

// The line a failed load writes on standard error: "marluneTranslate: <path>: <reason>" and a
// line end, each control character escaped so that it stays one line.
std::string loadFailureLine(const std::string& path, const std::string& reason);

// Assigns `field` and returns true when `name` is a non-empty string member of `doc`.
bool getConfigString(const rapidjson::Value& doc, const char* name, std::string& field);

// The decimal text of "source"."fileId" in the JSON text `requestBody` when it is an
// integer that fits in a signed 64-bit integer; empty otherwise.
std::string extractFileId(const std::string& requestBody);
