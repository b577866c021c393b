// The script splitter and GetNextCommand: any text as the start and the end script.
#include "FuzzInput.h"
#include "common/CommonUtils.h"
#include "scripts/CommandsList.h"
#include "scripts/Resources.h"

using namespace brek;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  const bool end = (in.Byte() & 1) != 0;  // the start or the end script: one load an input
  std::uint32_t account = in.Byte();
  account |= static_cast<std::uint32_t>(in.Word()) << 8;
  const std::string text = in.Rest();
  SetErrorLogFileName("");
  SetResourceLookup([&](std::string_view, std::string_view) { return std::optional<std::string>(text); });
  TCommandsList list("");
  if (end) list.InitEndCmd(); else list.InitStartCmd();
  list.InitAccount(account);
  std::string command, key;
  std::size_t n = 0;
  const std::int32_t count = list.CommandCount();
  while (list.GetNextCommand(command, key)) {
    if (++n > static_cast<std::size_t>(count) + 1) __builtin_trap();  // it must end
  }
  SetResourceLookup({});
  return 0;
}
