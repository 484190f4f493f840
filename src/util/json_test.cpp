// JSON written by the shared writer.
#include "util/json.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(WriteCompactJson, DeepNestingIsWrittenWithoutRecursion) {
  const int depth = 200000;
  std::string nested = std::string(depth, '[') + std::string(depth, ']');
  rapidjson::Document doc;
  doc.Parse<rapidjson::kParseIterativeFlag>(nested.c_str());
  ASSERT_FALSE(doc.HasParseError());
  EXPECT_EQ(writeCompactJson(doc), nested);
}

}  // namespace
