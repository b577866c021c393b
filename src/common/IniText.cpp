#include "common/IniText.h"

#include "common/Text.h"

namespace brek {

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

IniTable IniTable::Parse(std::string_view text) {
  IniTable table;
  Section* current = nullptr;
  for (const std::string& raw : SplitLines(text)) {
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
      table.sections_.push_back(Section{Trim(std::string_view(line).substr(1, line.size() - 2)), {}});
      current = &table.sections_.back();
      continue;
    }
    if (!current) continue;
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    current->entries.push_back(Entry{Trim(std::string_view(line).substr(0, eq)),
                                     Trim(std::string_view(line).substr(eq + 1))});
  }
  return table;
}

const std::string* IniTable::Find(std::string_view section, std::string_view key) const {
  for (const Section& s : sections_) {
    if (!SameText(s.name, section)) continue;
    for (const Entry& e : s.entries)
      if (SameText(e.key, key)) return &e.value;
  }
  return nullptr;
}

}  // namespace brek
