#pragma once
// The command script being sent to the panel, handed out one command at a time.
#include <cstdint>
#include <deque>
#include <string>

namespace brek {

class TCommandsList {
 public:
  explicit TCommandsList(const std::string& folder);  // Create

  void InitStartCmd();
  void InitEndCmd();
  // Replaces the first account placeholder line by "ACCOUNT=" and the number.
  void InitAccount(std::uint32_t number);
  // Lines held, blank lines included; 0 means the script could not be loaded.
  std::int32_t CommandCount() const;
  // The commands still to be handed out (blank lines are not commands).
  std::int32_t CommandsLeft() const;
  // Takes the next non-blank line off the front; false (out arguments untouched) when
  // none is left.
  bool GetNextCommand(std::string& command, std::string& key);

  const std::string& BaseFolder() const { return BaseFolder_; }

 private:
  void LoadScript(const char* resourceName);

  std::deque<std::string> Lines_;
  std::string BaseFolder_;
};

}  // namespace brek
