#include "scripts/CaptionsList.h"

#include "common/CommonUtils.h"
#include "common/Guard.h"
#include "scripts/Resources.h"

namespace brek {

std::unique_ptr<TCaptionsList> CaptionsList;

TCaptionsList::TCaptionsList() {
  Guarded("TCaptionsList.Create", [&] {
    Ini_ = std::make_unique<IniTable>();
    if (auto text = LoadModuleResource(kCaptionsResource, kTextResourceType))
      *Ini_ = IniTable::Parse(*text);
  });
}

std::string TCaptionsList::GetCaptionString(std::string_view key) const {
  std::string result;
  Guarded("TCaptionsList.GetCaptionString", [&] {
    if (key.empty() || !Ini_) return;
    const std::string* found = Ini_->Find(kCaptionSection, key);
    result = found ? *found : kMissingCaption;
    if (result == kMissingCaption)
      WriteErrLog("TCaptionsList: Unable to find string for StringIdent " + std::string(key));
  });
  return result;
}

std::string GetCaption(std::string_view key) {
  return CaptionsList ? CaptionsList->GetCaptionString(key) : std::string();
}

}  // namespace brek
