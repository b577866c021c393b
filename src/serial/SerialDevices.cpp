#include "serial/SerialDevices.h"

#include <algorithm>
#include <cstring>

namespace brek {

void CopyFriendlyName(const std::vector<std::string>& set, std::size_t index, char* buffer, std::size_t size) {
  if (index >= set.size() || size == 0) return;
  const std::size_t n = std::min(set[index].size(), size - 1);
  std::memcpy(buffer, set[index].data(), n);
  buffer[n] = '\0';
}

}  // namespace brek
