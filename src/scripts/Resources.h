#pragma once
// Resources of the program's own module, looked up by name and type as on Windows
// (names ignore letter case).
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace brek {

inline constexpr const char* kStartScriptResource = "BREKGSMDEMOSTARTCMD";
inline constexpr const char* kEndScriptResource = "BREKGSMDEMOENCMD";
inline constexpr const char* kCaptionsResource = "BREKGSMDEMOCAPTIONS";
inline constexpr const char* kTextResourceType = "TEXT";

// The whole content of the resource, or nothing when the module has no such resource.
std::optional<std::string> LoadModuleResource(std::string_view name, std::string_view type);

// Platform: the lookup in the module itself.
std::optional<std::string> LoadOwnModuleResource(std::string_view name, std::string_view type);

// Tests replace the module's resources; an empty function restores them.
using ResourceLookup = std::function<std::optional<std::string>(std::string_view, std::string_view)>;
void SetResourceLookup(ResourceLookup lookup);

}  // namespace brek
