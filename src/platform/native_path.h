// The name the system's own file functions take for a file named in the local code page:
// UTF-8 on POSIX systems, UTF-16 on Windows. For the platform layer's own files only.
#pragma once

#include <string>

namespace platform {

#ifdef _WIN32
// The UTF-16 name of a file named in the local code page; empty when it has none.
std::wstring widePath(const std::string& localPath);
#else
// The UTF-8 name of a file named in the local code page; empty when it has none.
std::string fileSystemPath(const std::string& localPath);
#endif

}  // namespace platform
