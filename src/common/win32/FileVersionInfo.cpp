// The version resource of a file, through the Windows version API (wide: the path may be
// outside the ANSI code page).
#include "common/FileVersionInfo.h"

#include "common/Cp1251.h"
#include "common/win32/WidePath.h"

#include <windows.h>

namespace brek {

std::uint32_t FileVersionInfoSize(const std::string& fileName) {
  DWORD handle = 0;
  return GetFileVersionInfoSizeW(WidePath(fileName).c_str(), &handle);
}

bool ReadFileVersionInfo(const std::string& fileName, std::vector<unsigned char>& buffer) {
  return !buffer.empty() &&
         GetFileVersionInfoW(WidePath(fileName).c_str(), 0, static_cast<DWORD>(buffer.size()), buffer.data());
}

bool QueryVersionValue(const std::vector<unsigned char>& block, const std::string& subBlock, std::string& value) {
  if (block.empty()) return false;
  const std::string path = (subBlock.empty() || subBlock.front() != '\\') ? "\\" + subBlock : subBlock;
  const std::wstring widePath(path.begin(), path.end());  // sub-block names are ASCII
  void* data = nullptr;
  UINT length = 0;
  // The API takes a non-const block; it does not change it.
  if (!VerQueryValueW(const_cast<unsigned char*>(block.data()), widePath.c_str(), &data, &length) || !data)
    return false;
  if (path.rfind("\\StringFileInfo", 0) == 0 || path.rfind("\\STRINGFILEINFO", 0) == 0) {
    // A string value: its length in characters, with its terminating NUL.
    value = Utf16ToCp1251(std::u16string_view(static_cast<const char16_t*>(data), length));
    while (!value.empty() && value.back() == '\0') value.pop_back();
  } else {
    value.assign(static_cast<const char*>(data), length);
  }
  return true;
}

}  // namespace brek
