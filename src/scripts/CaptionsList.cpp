#include "scripts/CaptionsList.h"

#include "common/CommonUtils.h"
#include "common/Guard.h"
#include "common/Text.h"
#include "scripts/Resources.h"

namespace brek {

std::unique_ptr<TCaptionsList> CaptionsList;

TCaptionsList::TCaptionsList() {
  Guarded("TCaptionsList.Create", [&] {
    ByKey_ = std::make_unique<Tables>();
    const auto text = LoadModuleResource(kCaptionsResource, kTextResourceType);
    if (!text) return;
    const IniTable table = IniTable::Parse(*text);
    for (const auto& section : table.Sections()) {
      if (!SameText(section.name, kCaptionSection)) continue;
      for (const auto& entry : section.entries)
        if (ByKey_->byUpperKey.emplace(UpperCase(entry.key), entry.value).second)
          ByKey_->asWritten.emplace(entry.key, entry.value);
    }
  });
}

std::string TCaptionsList::GetCaptionString(std::string_view key) const {
  std::string result;
  Guarded("TCaptionsList.GetCaptionString", [&] {
    if (key.empty() || !ByKey_) return;
    if (const auto found = ByKey_->asWritten.find(key); found != ByKey_->asWritten.end()) {
      result = found->second;
    } else {
      const auto any = ByKey_->byUpperKey.find(UpperCase(key));
      result = any != ByKey_->byUpperKey.end() ? any->second : kMissingCaption;
    }
    if (result == kMissingCaption)
      WriteErrLog("TCaptionsList: Unable to find string for StringIdent " + std::string(key));
  });
  return result;
}

std::string GetCaption(std::string_view key) {
  return CaptionsList ? CaptionsList->GetCaptionString(key) : std::string();
}

}  // namespace brek
