#pragma once
// Held paths (UTF-8) to and from the UTF-16 of the wide calls.
#include <string>
#include <string_view>

namespace brek {

std::wstring WidePath(std::string_view utf8);
std::string Utf8Path(std::wstring_view wide);

}  // namespace brek
