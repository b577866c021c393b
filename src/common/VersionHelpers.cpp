#include <cstdio>
#include <ctime>
#include <filesystem>
#include <vector>

#include "common/CommonUtils.h"
#include "common/Exceptions.h"
#include "common/FileVersionInfo.h"
#include "common/Guard.h"
#include "common/ProgramPath.h"
#include "common/Text.h"

namespace brek {

std::string ExtractField(const std::string& s, char c, int n) {
  if (s.size() > 255) throw ERangeError("ExtractField: text longer than 255 characters");
  int counter = 1;
  std::string rest = s;
  std::string field;
  bool sawSeparator = !s.empty();
  while (counter <= n && sawSeparator) {
    const auto p = rest.find(c);
    if (p != std::string::npos) {
      field = rest.substr(0, p);
      rest.erase(0, p + 1);
      ++counter;
    } else {
      field = rest;
      sawSeparator = false;
    }
  }
  if (counter < n) return {};
  return field;
}

std::string ShortFileVersion(const std::string& v) {
  return ExtractField(v, '.', 1) + "." + ExtractField(v, '.', 2) + "." + ExtractField(v, '.', 4);
}

std::string GetFileVersion(const std::string& fileName) {
  std::string result;
  Guarded("CommonUtils.GetFileVersion", [&] {
    std::error_code ec;
    if (fileName.empty() || !std::filesystem::exists(FileSystemPath(fileName), ec)) return;
    const std::uint32_t size = FileVersionInfoSize(fileName);
    if (size == 0) return;
    std::vector<unsigned char> block(size, 0);
    if (!ReadFileVersionInfo(fileName, block)) return;
    std::string translation;
    if (!QueryVersionValue(block, "\\VarFileInfo\\Translation", translation)) return;
    for (std::size_t i = 0; i + 4 <= translation.size(); i += 4) {
      auto u16 = [&](std::size_t at) {
        return static_cast<unsigned>(static_cast<unsigned char>(translation[at])) |
               static_cast<unsigned>(static_cast<unsigned char>(translation[at + 1])) << 8;
      };
      char path[64];
      std::snprintf(path, sizeof path, "StringFileInfo\\%04x%04x\\FileVersion", u16(i), u16(i + 2));
      std::string version;
      if (QueryVersionValue(block, path, version)) {
        // A Windows string value carries its terminating NUL in the count.
        if (const auto nul = version.find('\0'); nul != std::string::npos) version.resize(nul);
        result = ShortFileVersion(version);
        break;
      }
    }
  });
  return result;
}

bool CheckHardVersionBranch(const std::string& a, const std::string& b) {
  bool result = false;
  Guarded("CheckHardVersion", [&] {
    result = ExtractField(a, '.', 1) + "." + ExtractField(a, '.', 2) ==
             ExtractField(b, '.', 1) + "." + ExtractField(b, '.', 2);
  });
  return result;
}

int CheckHardVersion(const std::string& reference, const std::string& device) {
  int result = 3;
  Guarded("CheckHardVersion", [&] {
    const std::string r3 = ExtractField(reference, '.', 3), r4 = ExtractField(reference, '.', 4);
    const std::string d3 = ExtractField(device, '.', 3), d4 = ExtractField(device, '.', 4);
    if (r3.empty() || r4.empty()) {
      result = 3;
      return;
    }
    if (d3.empty() || d4.empty()) {
      result = 4;
      return;
    }
    const int ref3 = StrToIntDef(r3, 0), ref4 = StrToIntDef(r4, 0);
    const int dev3 = StrToIntDef(d3, 0), dev4 = StrToIntDef(d4, 0);
    if (ref3 != dev3)
      result = ref3 < dev3 ? 0 : 1;
    else if (ref4 == dev4)
      result = 2;
    else
      result = ref4 < dev4 ? 0 : 1;
  });
  return result;
}

std::string DateStamp() {
  try {
    const LocalDateTime t = NowLocal();
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04d%02d%02d", t.year % 10000, t.month % 100, t.day % 100);
    return buffer;
  } catch (...) {
    return {};
  }
}

}  // namespace brek
