// File helpers for the tests.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// A fresh empty directory under the system's temporary directory.
std::string makeTempDir();

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
bool fileExists(const std::string& path);

// Names of the entries of `dir` (without "." and "..").
std::vector<std::string> listDir(const std::string& dir);

// How many times `part` occurs in `text` (overlaps counted).
size_t countOf(const std::string& text, const std::string& part);

// Removes `path` and, when it is a directory, everything below it.
void removeTree(const std::string& path);

}  // namespace testing_support
