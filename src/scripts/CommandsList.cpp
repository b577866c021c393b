#include "scripts/CommandsList.h"

#include <algorithm>

#include "common/Guard.h"
#include "common/IniText.h"
#include "common/Text.h"
#include "scripts/Resources.h"

namespace brek {

TCommandsList::TCommandsList(const std::string& folder) {
  Guarded("TCommandsList.Create", [&] { BaseFolder_ = folder; });
}

void TCommandsList::LoadScript(const char* resourceName) {
  Lines_.clear();
  std::string text = LoadModuleResource(resourceName, kTextResourceType).value_or(std::string());
  if (const auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
  for (std::string& line : SplitLines(text)) Lines_.push_back(std::move(line));
}

void TCommandsList::InitStartCmd() {
  Guarded("TCommandsList.InitStartCmd", [&] { LoadScript(kStartScriptResource); });
}

void TCommandsList::InitEndCmd() {
  Guarded("TCommandsList.InitEndCmd", [&] { LoadScript(kEndScriptResource); });
}

void TCommandsList::InitAccount(std::uint32_t number) {
  Guarded("TCommandsList.InitAccount", [&] {
    for (std::string& line : Lines_) {
      const std::string trimmed = Trim(line);
      if (trimmed.empty()) continue;
      if (ContainsText(UpperCase(trimmed), "ACCOUNT=\"\"")) {
        line = "ACCOUNT=" + std::to_string(number);
        return;
      }
    }
  });
}

std::int32_t TCommandsList::CommandCount() const { return static_cast<std::int32_t>(Lines_.size()); }

std::int32_t TCommandsList::CommandsLeft() const {
  return static_cast<std::int32_t>(
      std::count_if(Lines_.begin(), Lines_.end(), [](const std::string& line) { return !Trim(line).empty(); }));
}

bool TCommandsList::GetNextCommand(std::string& command, std::string& key) {
  bool result = false;
  Guarded("TCommandsList.GetNextCommand", [&] {
    std::string next;
    while (!Lines_.empty() && next.empty()) {
      next = Trim(Lines_.front());
      Lines_.pop_front();
    }
    if (next.empty()) return;
    std::string k;
    auto at = next.find('?');
    if (at == std::string::npos) at = next.find('=');
    if (at != std::string::npos) k = next.substr(0, at);
    const std::string upper = UpperCase(k);
    if (ContainsText(upper, "VERSION") || ContainsText(upper, "FIRMWARE")) k = "ver";
    command = std::move(next);
    key = std::move(k);
    result = true;
  });
  return result;
}

}  // namespace brek
