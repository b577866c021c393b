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
  // The caption section by upper-cased key, the first entry of a key kept: every state
  // shown looks up a dozen texts, without a copy of the key.
  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
  };
  std::unique_ptr<std::unordered_map<std::string, std::string, KeyHash, std::equal_to<>>> ByKey_;
};

// The program-wide table; absent until start-up creates it.
extern std::unique_ptr<TCaptionsList> CaptionsList;

// Empty while the table does not exist; otherwise the table's answer.
std::string GetCaption(std::string_view key);

}  // namespace brek
