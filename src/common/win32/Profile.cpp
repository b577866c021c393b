// Settings files read as their text is written: Notepad saves ANSI, UTF-8 with or without a
// BOM, or UTF-16. The profile call would take a file without a BOM in the system's code page,
// which under any other than Windows-1251 turns a Cyrillic folder into "?".
#include "common/Profile.h"

#include <cstdio>

#include "common/Cp1251.h"
#include "common/ProgramPath.h"
#include "common/win32/WidePath.h"

namespace brek {
namespace {

bool ValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

std::string FromUtf16(std::string_view bytes, bool bigEndian) {
  std::wstring w;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const unsigned a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    w += static_cast<wchar_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
  }
  return Utf8Path(w);
}

// As UTF-8, the held form of the paths it names. Text that is not UTF-8 is taken as
// Windows-1251, the program's own texts' code page, whatever the system's is.
std::string SettingsTextAsUtf8(std::string_view bytes) {
  if (bytes.substr(0, 2) == "\xFF\xFE") return FromUtf16(bytes.substr(2), false);
  if (bytes.substr(0, 2) == "\xFE\xFF") return FromUtf16(bytes.substr(2), true);
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return std::string(bytes.substr(3));
  return ValidUtf8(bytes) ? std::string(bytes) : Cp1251ToUtf8(bytes);
}

}  // namespace

std::string ReadProfileString(const std::string& fileName, std::string_view section, std::string_view key,
                              std::string_view defaultValue) {
  std::string bytes;
  if (std::FILE* f = OpenFile(fileName, "rb")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, n);
    std::fclose(f);
  }
  return ProfileString(SettingsTextAsUtf8(bytes), section, key, defaultValue);
}

}  // namespace brek
