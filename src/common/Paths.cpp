#include "common/Paths.h"

#include <filesystem>

#include "common/ProgramPath.h"

namespace brek {

std::string FolderPart(std::string_view path) {
  const auto at = path.find_last_of(kPathSeparators);
  return at == std::string_view::npos ? std::string() : std::string(path.substr(0, at + 1));
}

std::string FileNamePart(std::string_view path) {
  const auto at = path.find_last_of(kPathSeparators);
  return std::string(at == std::string_view::npos ? path : path.substr(at + 1));
}

std::string WithoutExtension(std::string_view fileName) {
  const auto dot = fileName.rfind('.');
  return std::string(dot == std::string_view::npos ? fileName : fileName.substr(0, dot));
}

bool FolderExists(const std::string& folder) {
  if (folder.empty()) return false;
  std::error_code ec;
  return std::filesystem::is_directory(FileSystemPath(folder), ec);
}

}  // namespace brek
