#pragma once
#include <cstdint>
#include <string>

namespace brek {

// The next NUL-terminated name of a device-name list at position (1-based), which moves
// past it; an empty token at the end or when the last name lacks its NUL. A position
// below 1 raises ERangeError.
void NextToken(const std::string& text, std::int32_t& position, std::string& token);

}  // namespace brek
