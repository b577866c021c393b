// Resources of the program's own module, by the Windows resource calls.
#include "scripts/Resources.h"

#include <windows.h>

namespace brek {

std::optional<std::string> LoadOwnModuleResource(std::string_view name, std::string_view type) {
  const std::string n(name), t(type);
  HRSRC found = FindResourceA(nullptr, n.c_str(), t.c_str());
  if (!found) return std::nullopt;
  HGLOBAL loaded = LoadResource(nullptr, found);
  if (!loaded) return std::nullopt;
  const DWORD size = SizeofResource(nullptr, found);
  const void* bytes = LockResource(loaded);
  std::optional<std::string> out;
  if (bytes) out.emplace(static_cast<const char*>(bytes), size);
  FreeResource(loaded);
  return out;
}

}  // namespace brek
