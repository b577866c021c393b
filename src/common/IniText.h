#pragma once
// INI text: sections of key=value entries, names matched ignoring letter case.
// Shared by the caption table and the settings-file reader.
#include <string>
#include <string_view>
#include <vector>

namespace brek {

class IniTable {
 public:
  struct Entry {
    std::string key, value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };

  // Lines split at CR LF, CR or LF and stripped of characters 0x20 and below at both
  // ends; empty lines and ";" lines skipped; "[name]" opens a section; "key=value" with
  // both parts stripped; lines before the first section and lines without "=" ignored.
  // textAfterSection: a section line may go on after its "]" (a comment, say), as
  // profile files do.
  static IniTable Parse(std::string_view text, bool textAfterSection = false);

  // The value of the first matching entry, or nullptr.
  const std::string* Find(std::string_view section, std::string_view key) const;
  const std::vector<Section>& Sections() const { return sections_; }

 private:
  std::vector<Section> sections_;
};

// Splits at CR LF, a lone CR or a lone LF; a break after the last line adds no empty line.
std::vector<std::string> SplitLines(std::string_view text);

}  // namespace brek
