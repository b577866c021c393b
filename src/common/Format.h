#pragma once
// Formatting of texts that come from the caption table: a template with %d, %u, %x, %s
// and %% and the flags, width and precision of the program's format rules ("%04.4d" is at
// least four digits, zero-padded). A template that does not fit its arguments raises
// EConvertError instead of reading what is not there; unused arguments are ignored.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace brek {

using FormatArg = std::variant<std::int64_t, std::string>;

std::string Format(std::string_view pattern, const std::vector<FormatArg>& args);

}  // namespace brek
