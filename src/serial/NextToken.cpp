#include "serial/NextToken.h"

#include "common/Cp1251.h"
#include "common/Exceptions.h"

namespace brek {

void NextToken(const std::string& text, std::int32_t& position, std::string& token) {
  if (position < 1) throw ERangeError(Utf8ToCp1251("aStartPos должен быть больше 0"));
  token.clear();
  if (static_cast<std::size_t>(position) > text.size()) return;
  const std::size_t nul = text.find('\0', static_cast<std::size_t>(position - 1));
  if (nul == std::string::npos) return;
  token = text.substr(static_cast<std::size_t>(position - 1), nul - static_cast<std::size_t>(position - 1));
  position = static_cast<std::int32_t>(nul) + 2;
}

}  // namespace brek
