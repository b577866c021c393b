#pragma once
// The caption table: every text the window shows, looked up by key.
#include <map>
#include <memory>
#include <string>
#include <string_view>

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
  // shown looks up a dozen texts.
  std::unique_ptr<std::map<std::string, std::string, std::less<>>> ByKey_;
};

// The program-wide table; absent until start-up creates it.
extern std::unique_ptr<TCaptionsList> CaptionsList;

// Empty while the table does not exist; otherwise the table's answer.
std::string GetCaption(std::string_view key);

}  // namespace brek
