#include "scripts/Resources.h"

#include <utility>

namespace brek {
namespace {
ResourceLookup& Override() {
  static ResourceLookup lookup;
  return lookup;
}
}  // namespace

std::optional<std::string> LoadModuleResource(std::string_view name, std::string_view type) {
  if (const ResourceLookup& o = Override()) return o(name, type);
  return LoadOwnModuleResource(name, type);
}

void SetResourceLookup(ResourceLookup lookup) { Override() = std::move(lookup); }

}  // namespace brek
