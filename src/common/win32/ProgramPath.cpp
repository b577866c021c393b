#include "common/ProgramPath.h"

#include <windows.h>

#include <vector>

namespace brek {

std::string ExecutablePath() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 2);  // cut short: try again with more room
  }
}

}  // namespace brek
