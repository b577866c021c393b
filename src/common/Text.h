#pragma once
// Byte-string helpers. Texts are Windows-1251 bytes; letter case rules are ASCII only,
// which is all the line protocol and the keys use.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brek {

namespace detail {
// By table: every case-insensitive comparison of a reply line goes through it byte by byte.
struct UpperTable {
  char at[256];
  constexpr UpperTable() : at() {
    for (int i = 0; i < 256; ++i) at[i] = static_cast<char>(i >= 'a' && i <= 'z' ? i - 'a' + 'A' : i);
  }
};
inline constexpr UpperTable kUpper;
}  // namespace detail

// One byte's upper case (ASCII letters only).
constexpr char UpperAscii(char c) { return detail::kUpper.at[static_cast<unsigned char>(c)]; }

// Removes characters with codes 0x20 and below at both ends.
std::string Trim(std::string_view s);
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);            // ASCII case-insensitive
bool ContainsText(std::string_view haystack, std::string_view needle);  // case-sensitive
bool ContainsTextNoCase(std::string_view haystack, std::string_view needle);

// A signed 32-bit decimal integer: optional leading blanks, optional sign, digits, nothing else.
std::optional<std::int32_t> TryStrToInt(std::string_view s);
std::int32_t StrToIntDef(std::string_view s, std::int32_t def);
// As TryStrToInt, raising EConvertError with the offending text.
std::int32_t StrToInt(std::string_view s);

}  // namespace brek
