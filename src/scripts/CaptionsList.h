#pragma once
// The caption table: every text the window shows, looked up by key.
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "common/IniText.h"

namespace brek {

inline constexpr const char* kCaptionSection = "Caption Strings";
inline constexpr const char* kMissingCaption = "....";

class TCaptionsList {
 public:
  TCaptionsList();  // loads and parses the caption resource
  // The text for the key; "...." (and one error-log line) for a key the table lacks.
  std::string GetCaptionString(std::string_view key) const;

 private:
  // The caption section, the first entry of a key in any case kept, by its key as written
  // and by its upper-cased key: every state shown looks up a dozen texts, and the program
  // asks for them as the table writes them.
  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
  };
  using Table = std::unordered_map<std::string, std::string, KeyHash, std::equal_to<>>;
  struct Tables {
    Table asWritten, byUpperKey;
  };
  std::unique_ptr<Tables> ByKey_;
};

// The program-wide table; absent until start-up creates it.
extern std::unique_ptr<TCaptionsList> CaptionsList;

// Empty while the table does not exist; otherwise the table's answer.
std::string GetCaption(std::string_view key);

}  // namespace brek
