// The settings and caption readers: any text as an INI table, as the caption resource and
// as a settings file.
#include <cstdio>

#include "FuzzInput.h"
#include "common/CommonUtils.h"
#include "common/IniText.h"
#include "common/Profile.h"
#include "scripts/CaptionsList.h"
#include "scripts/Resources.h"

using namespace brek;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  const std::uint8_t reader = in.Byte() % 3;  // one reader an input: each parses the whole text
  const std::string key = in.Bytes(in.Byte() % 24);
  const std::string text = in.Rest();
  static const std::string folder = fuzz::ScratchFolder("brek-fuzz-tables");
  SetErrorLogFileName(fuzz::ErrorLogIn(folder));

  if (reader == 0) {
    const IniTable table = IniTable::Parse(text);
    for (const auto& section : table.Sections()) (void)table.Find(section.name, key);
  } else if (reader == 1) {
    SetResourceLookup([&](std::string_view, std::string_view) { return std::optional<std::string>(text); });
    {
      TCaptionsList captions;
      (void)captions.GetCaptionString(key);
      (void)captions.GetCaptionString("StartDemoButton_Caption");
    }
    SetResourceLookup({});
  } else {
    (void)ProfileString(text, key.empty() ? std::string("ProgrammSet") : key, key, "default");
  }
  SetErrorLogFileName("");
  return 0;
}
