#include "common/IniText.h"

#include "common/Profile.h"
#include "common/Text.h"

namespace brek {

namespace {

// Each line of the text as a view, split as SplitLines splits.
template <typename OnLine>
void ForEachLine(std::string_view text, OnLine&& onLine) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    onLine(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) onLine(text.substr(start));
}

std::string_view Stripped(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 0x20) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 0x20) --e;
  return s.substr(b, e - b);
}

}  // namespace

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  ForEachLine(text, [&](std::string_view line) { lines.emplace_back(line); });
  return lines;
}

IniTable IniTable::Parse(std::string_view text, bool textAfterSection) {
  IniTable table;
  Section* current = nullptr;
  // Views into the text: a settings file or the caption table is parsed without a copy a line.
  ForEachLine(text, [&](std::string_view raw) {
    const std::string_view line = Stripped(raw);
    if (line.empty() || line[0] == ';') return;
    const auto close = textAfterSection ? line.find(']') : line.size() - 1;
    if (line.front() == '[' && close != std::string_view::npos && line[close] == ']' && close >= 1) {
      table.sections_.push_back(Section{std::string(Stripped(line.substr(1, close - 1))), {}});
      current = &table.sections_.back();
      return;
    }
    if (!current) return;
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) return;
    current->entries.push_back(Entry{std::string(Stripped(line.substr(0, eq))), std::string(Stripped(line.substr(eq + 1)))});
  });
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

// The profile rules on a settings text (Profile.h), shared by both platforms' readers.
std::string ProfileString(std::string_view text, std::string_view section, std::string_view key,
                          std::string_view defaultValue) {
  std::string value(defaultValue);
  // Notepad's UTF-8 files begin with a byte-order mark.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  const IniTable table = IniTable::Parse(text, true);
  if (const std::string* found = table.Find(section, key)) {
    value = *found;
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
  }
  if (value.size() > kProfileValueMax) value.resize(kProfileValueMax);
  return value;
}

}  // namespace brek
