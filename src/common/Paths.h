#pragma once
// File-name parts by the program's rules: the folder part runs up to and including the
// last path separator; the extension from the last "." of the file-name part.
#include <string>
#include <string_view>

namespace brek {

#if defined(_WIN32)
inline constexpr std::string_view kPathSeparators = "\\/:";
#else
inline constexpr std::string_view kPathSeparators = "/";
#endif

std::string FolderPart(std::string_view path);
std::string FileNamePart(std::string_view path);
std::string WithoutExtension(std::string_view fileName);
// An empty folder part never counts as an existing directory.
bool FolderExists(const std::string& folder);

}  // namespace brek
