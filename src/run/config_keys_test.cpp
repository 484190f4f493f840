// The table of configuration keys against what the README's configuration table and the manual
// page say of each key: the same keys, each with its default and its message.
#include "run/config_keys.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>

#include "support/file_util.h"

namespace {

// The README's configuration table: key -> its row.
std::map<std::string, std::string> readmeRows() {
  std::map<std::string, std::string> rows;
  std::istringstream text(testing_support::readFile(MARLUNE_SOURCE_DIR "/README.md"));
  bool inTable = false;
  for (std::string line; std::getline(text, line);) {
    if (line.rfind("| key | meaning | when absent |", 0) == 0) inTable = true;
    if (!inTable || line.rfind("| `", 0) != 0) {
      if (inTable && line.empty()) break;
      continue;
    }
    rows[line.substr(3, line.find('`', 3) - 3)] = line;
  }
  return rows;
}

// The manual's CONFIGURATION section: key -> its paragraph (".TP" ".B key" and what follows),
// groff's escaped hyphens as plain ones.
std::map<std::string, std::string> manualParagraphs() {
  std::map<std::string, std::string> paragraphs;
  std::istringstream text(testing_support::readFile(MARLUNE_SOURCE_DIR "/man/marluneTranslate.1"));
  bool inSection = false;
  std::string key;
  std::string previous;
  for (std::string line; std::getline(text, line); previous = line) {
    if (line.rfind(".SH", 0) == 0) inSection = line == ".SH CONFIGURATION";
    if (!inSection || line == ".PP") key.clear();
    if (!inSection) continue;
    if (previous == ".TP" && line.rfind(".B ", 0) == 0) {
      key = line.substr(3);
      continue;
    }
    for (size_t at = line.find("\\-"); at != std::string::npos; at = line.find("\\-", at)) {
      line.erase(at, 1);
    }
    if (!key.empty()) paragraphs[key] += line + "\n";
  }
  return paragraphs;
}

TEST(ConfigKeys, TheReadmeAndTheManualDescribeEveryKeyWithItsDefaultAndMessage) {
  const std::map<std::string, std::string> rows = readmeRows();
  const std::map<std::string, std::string> paragraphs = manualParagraphs();
  std::set<std::string> names;
  for (const ConfigKey& key : configKeys()) {
    names.insert(key.name);
    ASSERT_EQ(findConfigKey(key.name), &key);
    ASSERT_EQ(rows.count(key.name), 1u) << key.name << " has no row in the README";
    ASSERT_EQ(paragraphs.count(key.name), 1u) << key.name << " has no paragraph in the manual";
    if (key.fallback != nullptr) {
      EXPECT_NE(rows.at(key.name).find(key.fallback), std::string::npos) << key.name;
      EXPECT_NE(paragraphs.at(key.name).find(key.fallback), std::string::npos) << key.name;
    }
    if (key.message != nullptr) {
      EXPECT_NE(rows.at(key.name).find(key.message), std::string::npos) << key.name;
    }
  }
  EXPECT_EQ(rows.size(), names.size()) << "the README names a key the program does not know";
  EXPECT_EQ(paragraphs.size(), names.size()) << "the manual names a key the program does not know";
  EXPECT_EQ(findConfigKey("appKey"), nullptr);
}

}  // namespace
