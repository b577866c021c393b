// The XDG base directories of the running user.
#include "common/UserFolders.h"

#include <unistd.h>

#include <cstdlib>

namespace brek {
namespace {

// $variable when it is an absolute path, else $HOME/fallback; empty without either.
std::string BaseFolder(const char* variable, const char* fallback) {
  const char* v = std::getenv(variable);
  if (v && v[0] == '/') return std::string(v) + "/brekgsmdemo/";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/" + fallback + "/brekgsmdemo/";
  return {};
}

}  // namespace

UserFolders PlatformUserFolders() {
  return {BaseFolder("XDG_CONFIG_HOME", ".config"), "/etc/brekgsmdemo/", BaseFolder("XDG_STATE_HOME", ".local/state")};
}

bool FolderWritable(const std::string& folder) {
  return !folder.empty() && access(folder.c_str(), W_OK | X_OK) == 0;
}

}  // namespace brek
