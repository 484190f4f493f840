// The configuration's keys in one table: the order they are read in, the job field each fills,
// its default, what its absence does, whether it goes into a URL or a header line, and its line
// in --help. The loader and its checks, the usage text and the warning for an unknown key all
// read this table, so a key is spelled in one place.
#pragma once

#include <string>
#include <vector>

class TranslateJob;

// What a key's absence does (missing, the empty string, or a value of another type).
enum class WhenAbsent {
  kDefault,          // the field takes the key's `fallback` (nothing when there is none)
  kFailsLoad,        // the load fails with the key's `message`
  kRecorded,         // the key's `message` becomes the job's message; the load goes on
  kFailsWithTenant,  // with "tenantid" set, the load fails with the key's `message`
};

// How a key's value is read.
enum class KeyKind {
  kText,         // a string, up to its first NUL, into `field`
  kRequestBody,  // an object: its compact text and its "source"."fileId"
  kSeconds,      // a whole number from 0 to 2^64-1
};

// What a key's text becomes part of; every kind but kNothing must hold no control character.
enum class SentAs {
  kNothing,
  kHeaderOrUrl,  // a header line or a part of a URL
  kBaseUrl,      // the base URL that path keys are appended to
  kPath,         // a path appended to the base URL named by `base`
};

struct ConfigKey {
  const char* name;
  KeyKind kind;
  std::string TranslateJob::*field;  // kText keys only
  const char* fallback;              // the default, as text; nullptr when there is none
  WhenAbsent whenAbsent;
  const char* message;  // for absence as `whenAbsent` says; for "requestbody", an unusable one
  SentAs sentAs;
  const char* base;  // for kPath: the key of its base URL
  const char* help;  // what --help says of it
};

// Every key, in the order the loader reads them.
const std::vector<ConfigKey>& configKeys();

// The key named `name` exactly; nullptr when there is none.
const ConfigKey* findConfigKey(const std::string& name);
