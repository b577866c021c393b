#include "common/VersionRecord.h"

#include "common/Text.h"

namespace brek {
namespace {
std::string NormalisePath(std::string_view path) {
  std::string out;
  for (char c : path) {
    if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == '\\') out.pop_back();
  return UpperCase(out);
}
}  // namespace

bool QueryVersionRecord(const std::vector<unsigned char>& record, const std::string& path,
                        std::string& value) {
  if (record.size() < kVersionRecordMagic.size() ||
      std::string_view(reinterpret_cast<const char*>(record.data()), kVersionRecordMagic.size()) !=
          kVersionRecordMagic)
    return false;
  const std::string wanted = NormalisePath(path);
  std::size_t i = kVersionRecordMagic.size();
  while (i < record.size()) {
    const std::size_t pathLen = record[i++];
    if (pathLen == 0 || i + pathLen >= record.size()) return false;
    std::string entryPath(reinterpret_cast<const char*>(&record[i]), pathLen);
    i += pathLen;
    const std::size_t valueLen = record[i++];
    if (i + valueLen > record.size()) return false;
    if (NormalisePath(entryPath) == wanted) {
      value.assign(reinterpret_cast<const char*>(record.data() + i), valueLen);
      return true;
    }
    i += valueLen;
  }
  return false;
}

std::vector<unsigned char> BuildVersionRecord(
    const std::vector<std::pair<std::string, std::string>>& entries) {
  std::vector<unsigned char> out(kVersionRecordMagic.begin(), kVersionRecordMagic.end());
  for (const auto& [path, value] : entries) {
    out.push_back(static_cast<unsigned char>(path.size()));
    out.insert(out.end(), path.begin(), path.end());
    out.push_back(static_cast<unsigned char>(value.size()));
    out.insert(out.end(), value.begin(), value.end());
  }
  out.push_back(0);
  return out;
}

}  // namespace brek
