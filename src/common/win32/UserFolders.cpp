// The Windows program keeps its settings and logs beside its executable.
#include "common/UserFolders.h"

namespace brek {

UserFolders PlatformUserFolders() { return {}; }

bool FolderWritable(const std::string& folder) { return !folder.empty(); }

}  // namespace brek
