#include "common/Profile.h"

#include <fstream>
#include <iterator>

namespace brek {

std::string ReadProfileString(const std::string& fileName, std::string_view section,
                              std::string_view key, std::string_view defaultValue) {
  std::ifstream f(fileName, std::ios::binary);
  if (!f) return ProfileString({}, section, key, defaultValue);
  const std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  return ProfileString(text, section, key, defaultValue);
}

}  // namespace brek
