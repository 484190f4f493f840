// File helpers for the tests. Paths are UTF-8 on every system.
#include "support/file_util.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

namespace testing_support {

namespace fs = std::filesystem;

namespace {

fs::path pathOf(const std::string& utf8) { return fs::u8path(utf8); }

}  // namespace

// Forward slashes on every system, so a path can go into a JSON text as it is.
std::string makeTempDir() {
  static std::mt19937_64 random{std::random_device{}()};
  std::error_code error;
  const fs::path base = fs::temp_directory_path(error);
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path dir = base / ("marlune-test-" + std::to_string(random() % 100000000000ULL));
    if (fs::create_directory(dir, error)) return dir.generic_u8string();
  }
  return std::string();
}

std::string readFile(const std::string& path) {
  std::ifstream in(pathOf(path), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(pathOf(path), std::ios::binary | std::ios::trunc);
  out << content;
}

bool fileExists(const std::string& path) {
  std::error_code error;
  return fs::exists(fs::symlink_status(pathOf(path), error));
}

std::vector<std::string> listDir(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(pathOf(dir), error), end; !error && it != end;
       it.increment(error)) {
    names.push_back(it->path().filename().u8string());
  }
  return names;
}

size_t countOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

void removeTree(const std::string& path) {
  std::error_code error;
  fs::remove_all(pathOf(path), error);
}

}  // namespace testing_support
