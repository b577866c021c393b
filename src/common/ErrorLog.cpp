#include <cstdio>
#include <mutex>
#include <string>

#include "common/CommonUtils.h"
#include "common/Exceptions.h"
#include "common/ProgramPath.h"

namespace brek {
namespace {

constexpr const char* kDefaultErrorLog = "ErrLog.txt";

// The name is set once at start-up on the UI thread, but the reader thread may log too.
std::mutex& NameMutex() {
  static std::mutex m;
  return m;
}
std::string& Name() {
  static std::string name;
  return name;
}

void AppendEntry(const std::string& text) noexcept {
  try {
    const std::string file = ErrorLogFileName();
    // "ab" appends to an existing log and creates a missing one; it never truncates.
    std::FILE* f = OpenFile(file, "ab");
    if (!f) return;
    std::string line = ErrorLogTimeStamp(NowLocal());
    line += ": ";
    line += text;
    line += "\r\n";
    std::fwrite(line.data(), 1, line.size(), f);
    std::fflush(f);
    std::fclose(f);
  } catch (...) {
    // The error log is the last resort; a lost entry must never reach the caller.
  }
}

}  // namespace

std::string ErrorLogFileName() {
  std::lock_guard lock(NameMutex());
  return Name().empty() ? kDefaultErrorLog : Name();
}

void SetErrorLogFileName(std::string_view path) {
  try {
    std::lock_guard lock(NameMutex());
    Name() = path;
  } catch (...) {
  }
}

std::string ErrorLogTimeStamp(const LocalDateTime& t) {
  std::string stamp = LocaleShortDate(t);
  if (t.hour != 0 || t.minute != 0 || t.second != 0) {
    stamp += ' ';
    stamp += LocaleLongTime(t);
  }
  return stamp;
}

void WriteErrLog(std::string_view text) {
  try {
    AppendEntry(std::string(text));
  } catch (...) {
  }
}

void LogException(const std::exception& e, std::string_view operation) {
  try {
    std::string text(operation);
    text += ". Exception ";
    text += ExceptionClassName(e);
    text += ". Exception message: ";
    text += e.what();
    AppendEntry(text);
  } catch (...) {
  }
}

}  // namespace brek
