#include <algorithm>

#include "common/Text.h"
#include "scripts/CommandsList.h"
#include "scripts/Resources.h"
#include "support/TestSupport.h"

namespace brek::test {
namespace {

struct Command {
  std::string text, key;
};

std::vector<Command> Drain(TCommandsList& list) {
  std::vector<Command> out;
  Command c;
  while (list.GetNextCommand(c.text, c.key)) out.push_back(c);
  return out;
}

class CommandsList : public Sandbox {
 protected:
  // Replaces the start script with the given text for this test.
  void UseStartScript(std::string text) {
    SetResourceLookup([text](std::string_view name, std::string_view) -> std::optional<std::string> {
      if (SameText(name, kStartScriptResource)) return text;
      return std::nullopt;
    });
  }
};

TEST_F(CommandsList, TheStartScriptHandsOutItsSixtySevenCommandsWithTheirKeys) {
  TCommandsList list("/opt/brek");
  EXPECT_EQ(list.BaseFolder(), "/opt/brek");
  list.InitStartCmd();
  EXPECT_EQ(list.CommandCount(), 80);
  list.InitAccount(3456);
  const auto commands = Drain(list);
  ASSERT_EQ(commands.size(), 67u);
  EXPECT_EQ(list.CommandCount(), 0);

  const std::vector<std::string> keys = {
      "", "", "ACCOUNT", "ZOLVA_SN_ENABLED", "ZONE_ENABLED", "ZONE_ENABLED", "ZONE_ENABLED",
      "STATEMAP", "STATEMAP", "STATEMAP", "STATEMAP", "STATEMAP", "STATEMAP", "STATEMAP", "STATEMAP",
      "STATEMAP", "STATEMAP", "STATEMAP", "STATEMAP", "STATEMAP", "STATEMAP", "STATEMAP",
      "PART_ENABLED", "PART_ENABLED", "PART_ZONES", "PART_ZONES", "PART_ZONES", "PART_ZONES",
      "USER_ENABLED", "USER_ENABLED", "USER_KEYBOARD_CODE", "USER_KEYBOARD_CODE", "USER_PARTS", "USER_PARTS",
      "CSP_NAME", "CSP_PLMN", "CSP_APN", "CSP_GPRS_USER", "CSP_GPRS_PASS",
      "CSP_NAME", "CSP_PLMN", "CSP_APN", "CSP_GPRS_USER", "CSP_GPRS_PASS",
      "CSP_NAME", "CSP_PLMN", "CSP_APN", "CSP_GPRS_USER", "CSP_GPRS_PASS",
      "ADDR", "ADDR", "PORT", "PORT", "SIM_CHANNELS", "SIM_CHANNELS", "ETH_ADDR", "ETH_ADDR",
      "ETH_PORT", "ETH_PORT", "SPEAKER_CONFIRM_ARMING_BY_USER", "SPEAKER_CONFIRM_DISARMING_BY_USER",
      "USE_AS_SIREN", "VOLUME", "SIREN_ON_TIME", "SIREN_SILENCE_TIME", "", ""};
  ASSERT_EQ(keys.size(), 67u);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(commands[i].key, keys[i]) << "command " << i + 1 << ": " << commands[i].text;
    EXPECT_EQ(commands[i].text, Trim(commands[i].text)) << "command " << i + 1;
  }
  EXPECT_EQ(commands.front().text, "ftdef");
  EXPECT_EQ(commands[1].text, "REFRESH_PART_STATE");
  EXPECT_EQ(commands[2].text, "ACCOUNT=3456");
  EXPECT_EQ(commands[54].text, "SIM_CHANNELS=1,G");  // line 65 loses its trailing blank
  EXPECT_EQ(commands[65].text, "settings_save");
  EXPECT_EQ(commands.back().text, "reset");

  // PART_ZONES: 47 then 51 flags per partition; USER_PARTS: 32 flags.
  auto flagCount = [](const std::string& c) { return std::count(c.begin(), c.end(), ',') + 1; };
  EXPECT_EQ(commands[24].text.rfind("PART_ZONES=0=0,0,0,1,0", 0), 0u);
  EXPECT_EQ(flagCount(commands[24].text), 47);
  EXPECT_EQ(flagCount(commands[25].text), 51);
  EXPECT_EQ(commands[26].text.rfind("PART_ZONES=1=1,0,0,0,0,0,0,1,0", 0), 0u);
  EXPECT_EQ(flagCount(commands[27].text), 51);
  EXPECT_EQ(flagCount(commands[32].text), 32);
  EXPECT_EQ(commands[33].text.rfind("USER_PARTS=1=0,1,0", 0), 0u);
  EXPECT_TRUE(ErrorLog().empty());
}

TEST_F(CommandsList, TheStartScriptBytesAreLfLinesEndingWithABreak) {
  const std::string text = LoadModuleResource(kStartScriptResource, "text").value();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 80);
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_EQ(text.back(), '\n');
  EXPECT_NE(text.find("SIM_CHANNELS=1,G \n"), std::string::npos);
  EXPECT_EQ(LoadModuleResource(kEndScriptResource, "TEXT").value(), "ftdef\r\nsettings_save\r\n\r\nreset\r\n");
  EXPECT_FALSE(LoadModuleResource(kStartScriptResource, "RCDATA"));
  EXPECT_FALSE(LoadModuleResource("NOSUCHRESOURCE", "TEXT"));
}

TEST_F(CommandsList, AccountPlaceholderBecomesTheNumberOnTheFirstMatchOnly) {
  UseStartScript("ftdef\n\n  account=\"\"  \nACCOUNT=\"\"\n");
  TCommandsList list("");
  list.InitStartCmd();
  list.InitAccount(0);
  auto c = Drain(list);
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c[1].text, "ACCOUNT=0");
  EXPECT_EQ(c[2].text, "ACCOUNT=\"\"");

  list.InitStartCmd();
  list.InitAccount(static_cast<std::uint32_t>(-1));  // taken as unsigned
  c = Drain(list);
  EXPECT_EQ(c[1].text, "ACCOUNT=4294967295");

  UseStartScript("ftdef\nreset\n");
  list.InitStartCmd();
  list.InitAccount(7);
  EXPECT_EQ(Drain(list).size(), 2u);
}

TEST_F(CommandsList, KeysTakeTheFirstQuestionMarkBeforeEqualsAndVersionWords) {
  UseStartScript("VERSION?\nA=B?\nFIRMWARE_UPDATE=1\nmy_version_x=2\n=5\n?\nCSP_GPRS_USER=1,\nPART_ZONES=0=1,0\nftdef\n");
  TCommandsList list("");
  list.InitStartCmd();
  const auto c = Drain(list);
  ASSERT_EQ(c.size(), 9u);
  EXPECT_EQ(c[0].key, "ver");
  EXPECT_EQ(c[1].key, "A=B");
  EXPECT_EQ(c[2].key, "ver");
  EXPECT_EQ(c[3].key, "ver");
  EXPECT_EQ(c[4].key, "");
  EXPECT_EQ(c[5].key, "");
  EXPECT_EQ(c[6].key, "CSP_GPRS_USER");
  EXPECT_EQ(c[7].key, "PART_ZONES");
  EXPECT_EQ(c[8].key, "");
}

TEST_F(CommandsList, BlankOnlyScriptCountsLinesButHandsOutNothing) {
  UseStartScript("\n   \n\t\n");
  TCommandsList list("");
  list.InitStartCmd();
  EXPECT_EQ(list.CommandCount(), 3);
  std::string command = "kept", key = "kept";
  EXPECT_FALSE(list.GetNextCommand(command, key));
  EXPECT_EQ(command, "kept");
  EXPECT_EQ(key, "kept");
  EXPECT_EQ(list.CommandCount(), 0);
}

TEST_F(CommandsList, MissingScriptIsEmptyAndTextEndsAtTheFirstZeroByte) {
  SetResourceLookup([](std::string_view, std::string_view) { return std::nullopt; });
  TCommandsList list("");
  list.InitStartCmd();
  EXPECT_EQ(list.CommandCount(), 0);
  UseStartScript(std::string("ftdef\r\nreset\0hidden\r\n", 20));
  list.InitStartCmd();
  const auto c = Drain(list);
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[1].text, "reset");
}

TEST_F(CommandsList, EndScriptReplacesWhatWasLeftOfTheStartScript) {
  TCommandsList list("");
  list.InitStartCmd();
  std::string command, key;
  ASSERT_TRUE(list.GetNextCommand(command, key));
  ASSERT_TRUE(list.GetNextCommand(command, key));
  list.InitEndCmd();
  EXPECT_EQ(list.CommandCount(), 4);
  const auto c = Drain(list);
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c[0].text, "ftdef");
  EXPECT_EQ(c[1].text, "settings_save");
  EXPECT_EQ(c[2].text, "reset");
  for (const auto& x : c) EXPECT_EQ(x.key, "");
}

}  // namespace
}  // namespace brek::test
