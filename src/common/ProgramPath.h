#pragma once
#include <string>

namespace brek {
// Platform: the full path of the running executable.
std::string ExecutablePath();
}  // namespace brek
