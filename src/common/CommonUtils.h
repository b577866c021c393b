#pragma once
// Error log, version texts and dates shared by the whole program.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

#include "common/Clock.h"

namespace brek {

// ---- Error log ----
// Both writers append one line (CR LF) and never raise; a failed entry is lost silently.
void WriteErrLog(std::string_view text);
void LogException(const std::exception& e, std::string_view operation);
// An empty path restores the default "ErrLog.txt" in the current directory.
void SetErrorLogFileName(std::string_view path);
// Appends line to file, created when missing; false when it did not go in whole, and then
// nothing of it stays (a fragment would start the next entry's line).
bool AppendWhole(const std::string& file, std::string_view line);
// A file appended to entry by entry as AppendWhole does. On Windows it stays open between
// entries until Release or another file is named (each opening costs several system round
// trips, 10 ms an entry under Wine); held, Windows programs can neither delete nor move it.
// A failed entry closes it, so the next one opens it again. POSIX opens it for each entry:
// a file held there could be deleted under it.
class HeldAppendFile {
 public:
  HeldAppendFile() = default;
  HeldAppendFile(const HeldAppendFile&) = delete;
  HeldAppendFile& operator=(const HeldAppendFile&) = delete;
  ~HeldAppendFile();
  bool Append(const std::string& file, std::string_view line);
  bool Release();  // false when the closing failed

 private:
  std::string name_;
  std::FILE* f_ = nullptr;
};
std::string ErrorLogFileName();  // the file the next entry goes to
// The stamp of an entry: short date, blank, long time; the date alone at 00:00:00.
std::string ErrorLogTimeStamp(const LocalDateTime& t);

// Platform: the user's locale formats, as Windows-1251 text.
std::string LocaleShortDate(const LocalDateTime& t);
std::string LocaleLongTime(const LocalDateTime& t);

// ---- Versions ----
// Field n (1-based) of s split at c; empty when s has fewer fields. Raises ERangeError
// for a text longer than 255 characters.
std::string ExtractField(const std::string& s, char c, int n);
// Fields 1, 2 and 4 joined by ".": "1.21.0.50" gives "1.21.50".
std::string ShortFileVersion(const std::string& v);
// The shortened file version of an executable, empty when it has none.
std::string GetFileVersion(const std::string& fileName);
// Same major.minor (fields 1 and 2, compared byte for byte).
bool CheckHardVersionBranch(const std::string& a, const std::string& b);
// Compares fields 3 and 4: 0 device newer, 1 device older, 2 equal, 3 reference
// incomplete, 4 device incomplete.
int CheckHardVersion(const std::string& reference, const std::string& device);

// Today's local date as "yyyymmdd"; empty on failure.
std::string DateStamp();

}  // namespace brek
