#include "common/UserFolders.h"

#include <filesystem>
#include <system_error>

#include "common/Paths.h"

namespace brek {

std::string FindSettingsFile(const std::string& programFolder, const UserFolders& folders,
                             const std::string& fileName) {
  for (const std::string* folder : {&folders.config, &folders.systemConfig}) {
    if (folder->empty()) continue;
    std::error_code ec;
    const std::string candidate = *folder + fileName;
    if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
  }
  return programFolder + fileName;
}

std::string DefaultLogFolder(const std::string& programFolder, const UserFolders& folders) {
  if (folders.state.empty() || FolderWritable(programFolder)) return programFolder;
  std::error_code ec;
  std::filesystem::create_directories(folders.state, ec);
  return FolderWritable(folders.state) ? folders.state : programFolder;
}

}  // namespace brek
