#include <cstdio>
#include <mutex>
#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif
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
    std::string line = ErrorLogTimeStamp(NowLocal());
    line += ": ";
    line += text;
    line += "\r\n";
    AppendWhole(ErrorLogFileName(), line);
  } catch (...) {
    // The error log is the last resort; a lost entry must never reach the caller.
  }
}

}  // namespace

namespace {

#if defined(_WIN32)
constexpr bool kHoldOpen = true;
#else
constexpr bool kHoldOpen = false;
#endif

// One entry at the file's end; a failed or short write is taken back through the same
// stream (its name need not be opened again).
bool AppendTo(std::FILE* f, std::string_view line) {
#if defined(_WIN32)
  const long long before = _fseeki64(f, 0, SEEK_END) == 0 ? _ftelli64(f) : -1;
#else
  const long long before = fseeko(f, 0, SEEK_END) == 0 ? ftello(f) : -1;
#endif
  const bool whole = std::fwrite(line.data(), 1, line.size(), f) == line.size() && std::fflush(f) == 0;
  if (!whole && before >= 0) {
#if defined(_WIN32)
    if (_chsize_s(_fileno(f), before) != 0) {
    }
#else
    if (ftruncate(fileno(f), static_cast<off_t>(before)) != 0) {
    }
#endif
  }
  return whole;
}

}  // namespace

HeldAppendFile::~HeldAppendFile() { Release(); }

bool HeldAppendFile::Append(const std::string& file, std::string_view line) {
  if (f_ && file != name_) Release();
  if (!f_) {
    // "ab" appends to an existing file and creates a missing one; it never truncates.
    f_ = OpenFile(file, "ab");
    if (!f_) return false;
    name_ = file;
    // Unbuffered: nothing of a cut entry may wait in the stream to be written at its close.
    std::setvbuf(f_, nullptr, _IONBF, 0);
  }
  const bool whole = AppendTo(f_, line);
  if (whole && kHoldOpen) return true;
  return Release() && whole;
}

bool HeldAppendFile::Release() {
  if (!f_) return true;
  const bool closed = std::fclose(f_) == 0;
  f_ = nullptr;
  name_.clear();
  return closed;
}

bool AppendWhole(const std::string& file, std::string_view line) {
  HeldAppendFile once;
  return once.Append(file, line) && once.Release();
}

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
