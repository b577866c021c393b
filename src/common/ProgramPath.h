#pragma once
// Paths are held as text: UTF-8 on Windows (taken from and given to the wide calls, so any
// folder name works under any code page), the system's own bytes elsewhere.
#include <cstdio>
#include <filesystem>
#include <string>

namespace brek {
// Platform: the full path of the running executable.
std::string ExecutablePath();
// Platform: a held path as the file system takes it.
std::filesystem::path FileSystemPath(const std::string& path);
// Platform: fopen of a held path.
std::FILE* OpenFile(const std::string& path, const char* mode);
}  // namespace brek
