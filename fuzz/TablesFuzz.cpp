// The settings and caption readers: any text as an INI table, as the caption resource and
// as a settings file.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "FuzzInput.h"
#include "common/CommonUtils.h"
#include "common/IniText.h"
#include "common/Profile.h"
#include "scripts/CaptionsList.h"
#include "scripts/Resources.h"

using namespace brek;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  const std::string key = in.Bytes(in.Byte() % 24);
  const std::string text = in.Rest();
  static const std::string folder = [] {
    auto dir = std::filesystem::temp_directory_path() / "brek-fuzz-tables";
    std::filesystem::create_directories(dir);
    return dir.string();
  }();
  SetErrorLogFileName(folder + "/ErrorLog.log");
  std::filesystem::remove(folder + "/ErrorLog.log");

  const IniTable table = IniTable::Parse(text);
  for (const auto& section : table.Sections()) (void)table.Find(section.name, key);

  SetResourceLookup([&](std::string_view, std::string_view) { return std::optional<std::string>(text); });
  {
    TCaptionsList captions;
    (void)captions.GetCaptionString(key);
    (void)captions.GetCaptionString("StartDemoButton_Caption");
  }
  SetResourceLookup({});

  const std::string ini = folder + "/BrekGSMDemo.ini";
  {
    std::ofstream f(ini, std::ios::binary | std::ios::trunc);
    f << text;
  }
  (void)ReadProfileString(ini, "ProgrammSet", "ControllerLogFileName", "");
  (void)ReadProfileString(ini, key, key, "default");
  SetErrorLogFileName("");
  return 0;
}
