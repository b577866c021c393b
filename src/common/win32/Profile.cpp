// Settings files through the Windows profile call itself.
#include "common/Profile.h"

#include <windows.h>

namespace brek {

std::string ReadProfileString(const std::string& fileName, std::string_view section, std::string_view key,
                              std::string_view defaultValue) {
  const std::string s(section), k(key), d(defaultValue);
  char buffer[kProfileValueMax + 1];
  const DWORD n = GetPrivateProfileStringA(s.c_str(), k.c_str(), d.c_str(), buffer, sizeof buffer, fileName.c_str());
  return std::string(buffer, n);
}

}  // namespace brek
