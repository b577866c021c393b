#pragma once
// Windows-1251 <-> Unicode by a fixed table, independent of the system locale.
#include <string>
#include <string_view>

namespace brek {

char32_t Cp1251ToCodePoint(unsigned char byte);
std::string Cp1251ToUtf8(std::string_view cp1251);
std::u16string Cp1251ToUtf16(std::string_view cp1251);
// Characters without a Windows-1251 form become '?'.
std::string Utf8ToCp1251(std::string_view utf8);
std::string Utf16ToCp1251(std::u16string_view utf16);

}  // namespace brek
