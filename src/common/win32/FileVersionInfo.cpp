// The version resource of a file, through the Windows version API.
#include "common/FileVersionInfo.h"

#include <windows.h>

namespace brek {

std::uint32_t FileVersionInfoSize(const std::string& fileName) {
  DWORD handle = 0;
  return GetFileVersionInfoSizeA(fileName.c_str(), &handle);
}

bool ReadFileVersionInfo(const std::string& fileName, std::vector<unsigned char>& buffer) {
  return !buffer.empty() && GetFileVersionInfoA(fileName.c_str(), 0, static_cast<DWORD>(buffer.size()), buffer.data());
}

bool QueryVersionValue(const std::vector<unsigned char>& block, const std::string& subBlock, std::string& value) {
  if (block.empty()) return false;
  const std::string path = (subBlock.empty() || subBlock.front() != '\\') ? "\\" + subBlock : subBlock;
  void* data = nullptr;
  UINT length = 0;
  // The API takes a non-const block; it does not change it.
  if (!VerQueryValueA(const_cast<unsigned char*>(block.data()), path.c_str(), &data, &length) || !data) return false;
  if (path.rfind("\\StringFileInfo", 0) == 0 || path.rfind("\\STRINGFILEINFO", 0) == 0) {
    value.assign(static_cast<const char*>(data), length);
    while (!value.empty() && value.back() == '\0') value.pop_back();
  } else {
    value.assign(static_cast<const char*>(data), length);
  }
  return true;
}

}  // namespace brek
