#pragma once
// Reading a settings (profile) file by the Windows profile-string rules: section and key
// names ignore letter case, one pair of enclosing quotes is removed, a value is cut after
// 2047 characters, and a missing file, section or key gives the default.
#include <string>
#include <string_view>

namespace brek {

inline constexpr std::size_t kProfileValueMax = 2047;

// The same rules on a settings file's text already read.
std::string ProfileString(std::string_view text, std::string_view section, std::string_view key,
                          std::string_view defaultValue);

std::string ReadProfileString(const std::string& fileName, std::string_view section,
                              std::string_view key, std::string_view defaultValue);

}  // namespace brek
