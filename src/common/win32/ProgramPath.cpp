#include "common/ProgramPath.h"

#include "common/win32/WidePath.h"

#include <windows.h>

#include <vector>

namespace brek {

std::wstring WidePath(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Utf8Path(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::string ExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return Utf8Path(std::wstring_view(buffer.data(), n));
    buffer.resize(buffer.size() * 2);  // cut short: try again with more room
  }
}

// From wide text: a path made from a narrow string takes it byte for character.
std::filesystem::path FileSystemPath(const std::string& path) { return std::filesystem::path(WidePath(path)); }

std::FILE* OpenFile(const std::string& path, const char* mode) {
  const std::wstring m(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(WidePath(path).c_str(), m.c_str());
}

}  // namespace brek
