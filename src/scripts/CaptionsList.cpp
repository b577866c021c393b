#include "scripts/CaptionsList.h"

#include "common/CommonUtils.h"
#include "common/Guard.h"
#include "common/Text.h"
#include "scripts/Resources.h"

namespace brek {

std::unique_ptr<TCaptionsList> CaptionsList;

TCaptionsList::TCaptionsList() {
  Guarded("TCaptionsList.Create", [&] {
    ByKey_ = std::make_unique<std::unordered_map<std::string, std::string, KeyHash, std::equal_to<>>>();
    const auto text = LoadModuleResource(kCaptionsResource, kTextResourceType);
    if (!text) return;
    const IniTable table = IniTable::Parse(*text);
    for (const auto& section : table.Sections()) {
      if (!SameText(section.name, kCaptionSection)) continue;
      for (const auto& entry : section.entries) ByKey_->emplace(UpperCase(entry.key), entry.value);
    }
  });
}

std::string TCaptionsList::GetCaptionString(std::string_view key) const {
  std::string result;
  Guarded("TCaptionsList.GetCaptionString", [&] {
    if (key.empty() || !ByKey_) return;
    char buffer[128];  // every key the program asks for fits
    std::string longKey;
    std::string_view upper;
    if (key.size() <= sizeof buffer) {
      for (std::size_t i = 0; i < key.size(); ++i) buffer[i] = UpperAscii(key[i]);
      upper = std::string_view(buffer, key.size());
    } else {
      longKey = UpperCase(key);
      upper = longKey;
    }
    const auto found = ByKey_->find(upper);
    result = found != ByKey_->end() ? found->second : kMissingCaption;
    if (result == kMissingCaption)
      WriteErrLog("TCaptionsList: Unable to find string for StringIdent " + std::string(key));
  });
  return result;
}

std::string GetCaption(std::string_view key) {
  return CaptionsList ? CaptionsList->GetCaptionString(key) : std::string();
}

}  // namespace brek
