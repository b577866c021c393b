#include "common/Profile.h"

#include <fstream>
#include <iterator>

#include "common/IniText.h"

namespace brek {

std::string ProfileString(std::string_view text, std::string_view section, std::string_view key,
                          std::string_view defaultValue) {
  std::string value(defaultValue);
  // Notepad's UTF-8 files begin with a byte-order mark.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  const IniTable table = IniTable::Parse(text, true);
  if (const std::string* found = table.Find(section, key)) {
    value = *found;
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
  }
  if (value.size() > kProfileValueMax) value.resize(kProfileValueMax);
  return value;
}

std::string ReadProfileString(const std::string& fileName, std::string_view section,
                              std::string_view key, std::string_view defaultValue) {
  std::ifstream f(fileName, std::ios::binary);
  if (!f) return ProfileString({}, section, key, defaultValue);
  const std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  return ProfileString(text, section, key, defaultValue);
}

}  // namespace brek
