// Panels that misbehave, in virtual time: garbage lines, NUL and 0xFF bytes, a 100 kB line
// without an end, replies slower than the 60 s command time-out, a panel stuck in its
// start-up program, one that answers everything with "value error"; and logs that cannot
// be written. The program must neither stall nor claim what the panel did not do.
#include <algorithm>

#include "support/DialogueFixture.h"

namespace brek::test {
namespace {

class MisbehavingPanel : public DialogueFixture {
 protected:
  bool WholeScriptSince(std::size_t from) const {
    const auto since = CommandsSince(from);
    const auto script = StartScript(3456);
    return since.size() >= script.size() && std::equal(script.begin(), script.end(), since.begin());
  }
};

TEST_F(MisbehavingPanel, GarbageNulAnd0xFFLinesAroundEveryReplyAreIgnored) {
  sim::PanelConfig config;
  static const char noise[] = "\x00\xff\xfe garbage \x01\x07\r\n\xff\xff\xff\r\n\x00\x00\r\n";
  config.noise = std::string(noise, sizeof noise - 1);
  Start(config);
  Run(300);
  ASSERT_EQ(form->CurrentState, psConnected);
  EXPECT_EQ(form->SerialNumber, 123456);
  window.StartDemoButton.Click();
  Run(10000);
  EXPECT_EQ(form->CurrentState, psDemoLoaded);
  EXPECT_TRUE(WholeScriptSince(3));
  EXPECT_EQ(Count("reset"), 1u) << "each command once: garbage is no reply";
  EXPECT_TRUE(ProgramErrorLog().empty());
}

TEST_F(MisbehavingPanel, A100kBLineWithoutAnEndIsDroppedAndTheScriptGoesOn) {
  Connect();
  window.StartDemoButton.Click();
  Run(5);
  panel->Send(std::string(100 * 1024, 'A'));
  Run(5 * 60000);  // the reply swallowed by the overlong line costs one command time-out
  EXPECT_EQ(form->CurrentState, psDemoLoaded);
  EXPECT_TRUE(WholeScriptSince(3));
  const auto log = ProgramErrorLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("TBrekGSMDemoMainForm.OnComPortReceiveData"), std::string::npos) << log[0];
}

TEST_F(MisbehavingPanel, APanelSilentForAWholeReplyTimeOutMidScriptIsLetGoOfAndConnectedAgain) {
  // Its firmware wedged after a few commands, the cable still in: not one byte in 60 s.
  Connect();
  panel->afterWrite = [&](const std::string& bytes) {
    if (bytes.rfind("ZOLVA_SN_ENABLED", 0) == 0) panel->Model().Config().replyDelayMs = 61000;
  };
  window.StartDemoButton.Click();
  for (int i = 0; i < 200 && Commands().back() != "ZONE_ENABLED=0,1"; ++i) Run(1);
  const std::size_t sent = Commands().size();
  Run(60000 - 1);
  EXPECT_TRUE(panel->Held());
  Run(1);
  EXPECT_FALSE(panel->Held()) << "let go of at 60 s, not sent the next command";
  EXPECT_EQ(Commands().size(), sent);
  const auto log = ProgramErrorLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(log[0].find("COM7 sent nothing in 60000 ms after \"ZONE_ENABLED=0,1\""), std::string::npos) << log[0];
  panel->afterWrite = nullptr;
  panel->Model().Config().replyDelayMs = 0;  // it reads again
  Run(5100);
  EXPECT_EQ(panel->Openings(), 2) << "opened again by the check";
  LoadDemo();
  EXPECT_TRUE(WholeScriptSince(sent + 3));
}

TEST_F(MisbehavingPanel, APanelStuckInItsStartUpProgramIsNeverShownConnected) {
  sim::PanelConfig config;
  config.stuckInBootloader = true;
  Start(config);
  bool everConnected = false;
  for (int s = 0; s < 600; ++s) {
    Run(1000);
    everConnected |= form->CurrentState != psWaitConnect;
  }
  EXPECT_FALSE(everConnected);
  // It is asked to start its main program after each return, no more often.
  const std::size_t asks = Count("START_MAIN");
  EXPECT_GE(asks, 10u);
  EXPECT_LE(asks, 600u / 3 + 1) << "once per restart (3 s) at most";
  window.StartDemoButton.Click();  // disabled: nothing is written
  Run(1000);
  EXPECT_EQ(Count("ftdef"), 0u);
}

TEST_F(MisbehavingPanel, APanelThatAnswersEverythingWithValueErrorIsNeverConnected) {
  sim::PanelConfig config;
  config.valueErrorToAll = true;
  Start(config);
  Run(600000);
  EXPECT_EQ(form->CurrentState, psWaitConnect);
  EXPECT_FALSE(form->DeviceReady);
  EXPECT_EQ(Count("AUTH=5916"), 0u);
  EXPECT_LE(Commands().size(), 200u) << "no busy retrying";
}

// Log files that cannot be written (a folder stands where each file should be: root is not
// kept out by permissions) never stop the dialogue.
TEST_F(MisbehavingPanel, LogsThatCannotBeWrittenNeverStopTheDialogue) {
  std::filesystem::create_directories(Dir() / "logs" / ("Panel" + Today() + ".log"));
  std::filesystem::create_directories(Dir() / "ErrorLog.log");
  Connect();
  LoadDemo();
  EXPECT_TRUE(WholeScriptSince(3));
  window.MoneyOffButton.Click();
  Run(200);
  EXPECT_EQ(form->CurrentState, psMoneyOff);
  EXPECT_EQ(Commands().back(), "ARM_ALLOWED=3");
}

}  // namespace
}  // namespace brek::test
