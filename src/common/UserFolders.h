#pragma once
// Where the settings file is looked for and where logs without a folder of their own go.
// A portable copy (no user folders) keeps everything beside its executable; an installed
// Linux program also looks in the user's and the system's configuration folders, and logs
// to the user's state folder when it may not write beside its executable.
#include <string>

namespace brek {

struct UserFolders {
  std::string config;        // e.g. ~/.config/brekgsmdemo/ (with its separator), or empty
  std::string systemConfig;  // e.g. /etc/brekgsmdemo/, or empty
  std::string state;         // e.g. ~/.local/state/brekgsmdemo/, or empty
};

// Platform: the running user's folders (none on Windows: its program keeps to its folder),
// and whether this process may create files in a folder.
UserFolders PlatformUserFolders();
bool FolderWritable(const std::string& folder);

// The settings file to read: the first that exists of the user's, the system's and the one
// beside the executable; the last when none does.
std::string FindSettingsFile(const std::string& programFolder, const UserFolders& folders,
                             const std::string& fileName);
// The folder for a log named without one: the program folder where it may be written, else
// the state folder (created if missing), else the program folder all the same.
std::string DefaultLogFolder(const std::string& programFolder, const UserFolders& folders);

}  // namespace brek
