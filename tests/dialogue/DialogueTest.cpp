// Whole demonstrations against the simulated panel, in virtual time.
#include <algorithm>

#include "common/CMLEncode.h"
#include "common/Text.h"
#include "scripts/Resources.h"
#include "support/DialogueFixture.h"

namespace brek::test {
namespace {

using sim::PanelConfig;
using sim::PasswordMode;
using sim::ScriptReply;

class Dialogue : public DialogueFixture {};

const std::vector<std::string> kConnect = {"VERSION?", "AUTH=5916", "ZOLVA_SN?"};

TEST_F(Dialogue, ConnectsWithThePasswordAndReadsTheSerialNumber) {
  Connect();
  EXPECT_EQ(panel->Model().Transcript().front(), "") << "an empty line before the first query";
  EXPECT_EQ(Commands(), kConnect);
  EXPECT_TRUE(form->DeviceReady);
  EXPECT_TRUE(form->UsePassword);
  EXPECT_EQ(form->SerialNumber, 123456);
  EXPECT_EQ(form->AccountNumber, 3456);
  EXPECT_EQ(form->OpenPortNumber, 7);
  EXPECT_EQ(form->FirmwareVersion, "5.1.10.6");
  EXPECT_TRUE(window.StartDemoButton.Enabled());
  EXPECT_TRUE(window.EndDemoButton.Enabled());
  EXPECT_TRUE(ProgramErrorLog().empty());
}

TEST_F(Dialogue, APanelWithoutPasswordConnectsToo) {
  PanelConfig c;
  c.password = PasswordMode::NoPassword;
  Start(c);
  Run(300);
  EXPECT_EQ(form->CurrentState, psConnected);
  EXPECT_FALSE(form->UsePassword);
  EXPECT_EQ(Commands(), kConnect);
}

TEST_F(Dialogue, TheAuthenticationWaitsOneHundredMilliseconds) {
  Start();
  ASSERT_TRUE(ui->RunUntil([&] { return Commands().size() == 1; }, 100));
  Run(50);
  const std::uint64_t versionHandled = ui->NowMs();
  EXPECT_EQ(Commands().size(), 1u);
  Run(100);
  ASSERT_GE(Commands().size(), 2u);
  EXPECT_GT(ui->NowMs(), versionHandled);
}

TEST_F(Dialogue, TheDemoScriptIsSentWholeThenCompletedAfterTheRestart) {
  Connect();
  const std::size_t before = Commands().size();
  window.StartDemoButton.Click();
  EXPECT_EQ(form->CurrentState, psLoadDemo);
  EXPECT_TRUE(form->ScriptRunning);
  EXPECT_TRUE(form->LoadDemoPending);
  for (TButton* b : window.ButtonsInCreationOrder()) EXPECT_FALSE(b->Enabled());
  Run(2000);
  const auto script = StartScript(3456);
  ASSERT_EQ(script.size(), 67u);
  EXPECT_EQ(script[2], "ACCOUNT=3456");
  EXPECT_EQ(CommandsSince(before), script);
  // "reset" closed the port and restarted the port check; the state waits for the panel.
  EXPECT_FALSE(panel->Held());
  EXPECT_FALSE(form->DeviceReady);
  EXPECT_EQ(form->OpenPortNumber, -1);
  EXPECT_EQ(form->CurrentState, psLoadDemo);
  EXPECT_TRUE(form->LoadDemoPending);

  const std::size_t afterScript = Commands().size();
  const std::uint64_t startMs = ui->NowMs();
  Run(5000);
  EXPECT_EQ(form->CurrentState, psDemoLoaded);
  EXPECT_FALSE(form->LoadDemoPending);
  const auto completion = CommandsSince(afterScript);
  ASSERT_EQ(completion.size(), 5u);
  EXPECT_EQ(completion[0], "VERSION?");
  EXPECT_EQ(completion[1], "AUTH=5916");
  EXPECT_EQ(completion[2], "ZOLVA_SN?") << "the same panel that got the script?";
  EXPECT_EQ(completion[3], "ARM_IGNORE_TAMPER=1");
  ASSERT_EQ(completion[4].rfind("TIME=", 0), 0u);
  // Local seconds since 1970 of the virtual clock (17:45:12 on 6 December 2026 at its start).
  const std::uint64_t seconds = std::stoull(completion[4].substr(5));
  EXPECT_GE(seconds, 1796579112u + startMs / 1000);
  EXPECT_LE(seconds, 1796579112u + ui->NowMs() / 1000);
  // Each line waits for the answer to the one before, never in a wait that stops the window.
  EXPECT_TRUE(ui->sleeps.empty());
  EXPECT_TRUE(ui->processingWaits.empty());
  EXPECT_TRUE(window.MoneyLittleButton.Enabled());
  EXPECT_EQ(window.ObjectsValueLabel.HTMLText(), "3456, 3457");
  EXPECT_TRUE(ProgramErrorLog().empty());
}

TEST_F(Dialogue, WithoutThePasswordTheCompletionSendsNoAuth) {
  PanelConfig c;
  c.password = PasswordMode::NoPassword;
  Start(c);
  Run(300);
  window.StartDemoButton.Click();
  Run(1000);
  const std::size_t afterScript = Commands().size();
  Run(5000);
  const auto completion = CommandsSince(afterScript);
  ASSERT_EQ(completion.size(), 4u);
  EXPECT_EQ(completion[0], "VERSION?");
  EXPECT_EQ(completion[1], "ZOLVA_SN?");
  EXPECT_EQ(completion[2], "ARM_IGNORE_TAMPER=1");
  EXPECT_EQ(completion[3].rfind("TIME=", 0), 0u);
  EXPECT_EQ(form->CurrentState, psDemoLoaded);
}

TEST_F(Dialogue, PaymentButtonsSwitchTheSituation) {
  Connect();
  LoadDemo();
  const std::size_t before = Commands().size();
  window.MoneyLittleButton.Click();
  EXPECT_EQ(form->CurrentState, psDemoLoaded) << "shown once the panel has the line";
  ui->RunPosted();
  EXPECT_EQ(form->CurrentState, psMoneyLittle);
  EXPECT_FALSE(window.MoneyLittleButton.Enabled());
  window.MoneyOffButton.Click();
  window.MoneyFullButton.Click();
  EXPECT_EQ(form->CurrentState, psMoneyLittle) << "each waits for the answer to the one before";
  Run(50);
  EXPECT_EQ(form->CurrentState, psMoneyFull);
  Run(100);
  EXPECT_EQ(CommandsSince(before), (std::vector<std::string>{"ARM_ALLOWED=2", "ARM_ALLOWED=3", "ARM_ALLOWED=0"}));
  EXPECT_EQ(form->CurrentState, psMoneyFull) << "their replies are not examined";
  // A panel that says nothing to them: a click waits for the one before, 10 s at most, and
  // each silence is said once.
  auto& answers = panel->Model().Config().answerFor;
  answers["ARM_ALLOWED=2"] = answers["ARM_ALLOWED=3"] = "";
  const std::uint64_t from = ui->NowMs();
  for (std::size_t i = 0; i < 6; ++i) {
    (i % 2 ? window.MoneyOffButton : window.MoneyLittleButton).Click();
    while (Commands().size() < before + 4 + i && ui->NowMs() < from + 90000) Run(10);
  }
  EXPECT_LE(ui->NowMs() - from, 50000u);
  EXPECT_EQ(ProgramErrorLog().size(), 5u);
}

TEST_F(Dialogue, TheFactoryScriptEndsConnectedWithTheSerialNumberAskedAgain) {
  Connect();
  LoadDemo();
  const std::size_t before = Commands().size();
  window.EndDemoButton.Click();
  EXPECT_EQ(form->CurrentState, psLoadFtdef);
  Run(10000);
  EXPECT_EQ(CommandsSince(before),
            (std::vector<std::string>{"ftdef", "settings_save", "reset", "VERSION?", "AUTH=5916", "ZOLVA_SN?"}));
  EXPECT_EQ(form->CurrentState, psConnected);
  EXPECT_FALSE(form->LoadFtdefPending);
  EXPECT_EQ(form->SerialNumber, 123456);
  EXPECT_TRUE(ui->sleeps.empty());
}

TEST_F(Dialogue, APanelInItsStartupProgramIsToldToStartTheMainOne) {
  PanelConfig c;
  c.bootloaderFirst = true;
  c.restartMs = 1500;
  Start(c);
  Run(100);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"VERSION?", "START_MAIN"}));
  EXPECT_FALSE(panel->Held());
  EXPECT_EQ(form->CurrentState, psWaitConnect);
  EXPECT_EQ(ui->sleeps, std::vector<unsigned>{5});
  Run(3000);
  EXPECT_EQ(CommandsSince(2), kConnect);
  EXPECT_EQ(form->CurrentState, psConnected);
}

TEST_F(Dialogue, FirmwareVersionsDecideTheState) {
  const struct {
    const char* version;
    TProgrammState state;
  } cases[] = {{"5.1.10.6", psConnected},    {"5.2.11.0", psConnected},    {"5.1.10.5", psWrongVersion},
               {"5.1.9.99", psWrongVersion}, {"5.2.3.0", psWrongVersion},  {"5.1", psWrongVersion},
               {"5.3.10.6", psWaitConnect},  {"6.0.10.6", psWaitConnect}};
  for (const auto& c : cases) {
    TearDown();
    SetUp();
    PanelConfig config;
    config.version = c.version;
    Start(config);
    Run(500);
    EXPECT_EQ(form->CurrentState, c.state) << c.version;
    if (c.state != psConnected) {
      EXPECT_EQ(Commands(), std::vector<std::string>{"VERSION?"}) << c.version << ": nothing more is sent";
      EXPECT_TRUE(form->DeviceReady) << c.version << ": the port stays open";
    }
  }
}

TEST_F(Dialogue, ACommandWithoutAnAdvancingReplyIsFollowedAfterSixtySeconds) {
  PanelConfig c;
  c.replyFor["ZONE_ENABLED=3"] = ScriptReply::Silence;
  Start(c);
  Run(300);
  window.StartDemoButton.Click();
  for (int i = 0; i < 200 && Commands().back() != "ZONE_ENABLED=3,1"; ++i) Run(1);
  ASSERT_EQ(Commands().back(), "ZONE_ENABLED=3,1");
  const std::uint64_t sentAt = ui->NowMs();
  // Unrelated lines do not advance it.
  panel->Send("SOMETHING ELSE\r");
  Run(60000 - 1 - (ui->NowMs() - sentAt));
  EXPECT_EQ(Commands().back(), "ZONE_ENABLED=3,1");
  Run(1);
  EXPECT_EQ(Commands().back(), "ZONE_ENABLED=7,1");
  EXPECT_EQ(ui->NowMs() - sentAt, 60000u);
}

TEST_F(Dialogue, RejectedCommandsStillAdvanceTheScript) {
  for (ScriptReply style : {ScriptReply::Unknown, ScriptReply::ValueError, ScriptReply::KeyValue}) {
    TearDown();
    SetUp();
    PanelConfig c;
    c.scriptReply = style;
    Start(c);
    Run(300);
    window.StartDemoButton.Click();
    Run(6000);
    EXPECT_EQ(form->CurrentState, psDemoLoaded) << static_cast<int>(style);
    EXPECT_EQ(Commands().size(), 3u + 67u + 5u);
  }
}

TEST_F(Dialogue, ARefusedOrUnansweredStepIsSaidOnceAndARefusedSituationIsTakenBack) {
  const struct {
    const char *command, *answer, *said;
  } cases[] = {{"ARM_IGNORE_TAMPER=", "value error", "\"ARM_IGNORE_TAMPER=1\": refused: \"value error\""},
               {"TIME=", "UNKNOWN_COMMAND", ": refused: \"UNKNOWN_COMMAND\""},
               // The key line and "OK" at once: that "OK" came before "TIME=" went out.
               {"ARM_IGNORE_TAMPER=", "ARM_IGNORE_TAMPER: 1\r\nOK", ": no answer in 10000 ms"},
               {"ARM_IGNORE_TAMPER=", "ARM_IGNORE_TAMPER: 1\tOK", ": no answer in 10000 ms"}};  // "OK" read later
  for (const auto& c : cases) {
    TearDown();
    SetUp();
    PanelConfig config;
    if (*c.answer == 'A') config.answerFor["TIME="] = "";
    config.answerFor[c.command] = c.answer;
    config.answerFor["ARM_ALLOWED="] = "ERROR";
    Start(config);
    Run(300);
    window.StartDemoButton.Click();
    Run(16000);
    EXPECT_EQ(form->CurrentState, psDemoLoaded) << c.answer << ": the settings are in the panel";
    ASSERT_EQ(ProgramErrorLog().size(), 1u) << c.answer;
    EXPECT_NE(ProgramErrorLog()[0].find(c.said), std::string::npos) << ProgramErrorLog()[0];
    EXPECT_NE(ProgramErrorLog()[0].find(*c.command == 'T' || *c.answer == 'A' ? "\"TIME=" : c.command), std::string::npos);
    window.MoneyLittleButton.Click();
    Run(100);
    EXPECT_EQ(form->CurrentState, psDemoLoaded) << "refused: the situation shown before";
    EXPECT_TRUE(window.MoneyLittleButton.Enabled());
    EXPECT_NE(ProgramErrorLog().back().find("\"ARM_ALLOWED=2\": refused: \"ERROR\""), std::string::npos);
  }
}

TEST_F(Dialogue, EchoesAreIgnoredInAnyLetterCase) {
  PanelConfig c;
  c.echo = true;
  c.replyFor["ZONE_ENABLED"] = ScriptReply::Silence;
  Start(c);
  Run(300);
  EXPECT_EQ(form->CurrentState, psConnected);
  window.StartDemoButton.Click();
  for (int i = 0; i < 300 && Commands().back() != "ZONE_ENABLED=0,1"; ++i) Run(1);
  Run(20);
  ASSERT_EQ(Commands().back(), "ZONE_ENABLED=0,1");
  panel->Send("zone_enabled=0,1\r");  // an echo in other letters, though it holds the key
  Run(100);
  EXPECT_EQ(Commands().back(), "ZONE_ENABLED=0,1");
  panel->Send("ZONE_ENABLED: 0,1 stored\r");
  Run(20);
  EXPECT_EQ(Commands().back(), "ZONE_ENABLED=3,1");
}

TEST_F(Dialogue, ALowerCaseWrongPasswordShowsTheMessageAfterOneHundredMilliseconds) {
  PanelConfig c;
  c.password = PasswordMode::Wrong;
  c.wrongPasswordLine = "error: wrong password";
  Start(c);
  for (int i = 0; i < 400 && ui->messageBoxes.empty(); ++i) Run(1);
  ASSERT_EQ(ui->messageBoxes.size(), 1u);
  EXPECT_EQ(ui->messageBoxes[0].caption, W("Брек GSM: демонстрация работы."));
  EXPECT_EQ(ui->messageBoxes[0].flags, 16u);
  const std::string text = ui->messageBoxes[0].text;
  EXPECT_EQ(text.rfind(W("Прибор, подключенный к компьютеру, защищен паролем.\r\n"), 0), 0u);
  EXPECT_NE(text.find(W("\r\nДля использования прибора в демонстрационных целях необходимо выполнить сброс настроек прибора в заводские значения.\r\n")), std::string::npos);
  EXPECT_EQ(form->CurrentState, psWaitConnect);
  EXPECT_TRUE(panel->Held()) << "the port stays open";
  Run(1000);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"VERSION?", "AUTH=5916"}));
}

TEST_F(Dialogue, SerialNumberNotSetOrNoNumberLeavesTheStateAlone) {
  for (const char* serial : {"NOT SET", "12ab"}) {
    TearDown();
    SetUp();
    PanelConfig c;
    c.serial = serial;
    Start(c);
    Run(500);
    EXPECT_EQ(form->CurrentState, psWaitConnect) << serial;
    EXPECT_EQ(form->SerialNumber, -1);
    ASSERT_EQ(ProgramErrorLog().size(), 1u) << serial;
    EXPECT_NE(ProgramErrorLog()[0].find("no serial number"), std::string::npos) << ProgramErrorLog()[0];
  }
  TearDown();
  SetUp();
  PanelConfig c;
  c.serial = "-1";
  Start(c);
  Run(500);
  EXPECT_EQ(form->AccountNumber, 7295) << "the serial number is taken as unsigned";
}

TEST_F(Dialogue, LinesAreAssembledAcrossDataEventsAndTheEndOfTheRing) {
  PanelConfig c;
  c.scriptReply = ScriptReply::Silence;
  Start(c);
  Run(300);
  window.StartDemoButton.Click();
  Run(20);
  ASSERT_EQ(Commands().back(), "ftdef");
  panel->Send("O");
  Run(20);
  EXPECT_EQ(Commands().back(), "ftdef") << "half a line waits";
  panel->Send("K\r");
  Run(20);
  EXPECT_EQ(Commands().back(), "REFRESH_PART_STATE");

  // Across the end of the ring: the consumer stands two bytes before it.
  form->ComPort->SetStartInInpBuf(form->ComPort->InpBufSize() - 2);
  panel->Send("\r\nOK\r");
  Run(20);
  EXPECT_EQ(Commands().back(), "ACCOUNT=3456");
  EXPECT_EQ(form->ComPort->ReceivedBytes(), 0);
  EXPECT_EQ(form->ComPort->StartInInpBuf(), 3);

  form->ComPort->SetStartInInpBuf(form->ComPort->InpBufSize() - 1);
  panel->Send("OK\r");
  Run(20);
  EXPECT_EQ(Commands().back(), "ZOLVA_SN_ENABLED=1");
}

TEST_F(Dialogue, CrLfOkCrGivesOneLoggedLineOk) {
  PanelConfig c;
  c.scriptReply = ScriptReply::Silence;
  Start(c);
  Run(300);
  window.StartDemoButton.Click();
  Run(20);
  const std::size_t before = TrafficLog().size();
  panel->Send("\r\nOK\r");
  Run(20);
  const auto log = TrafficLog();
  ASSERT_EQ(log.size(), before + 2);  // the reply, then the next command
  EXPECT_EQ(log[before].substr(23), " IN:  OK");
  EXPECT_EQ(log[before + 1].substr(23), " OUT: REFRESH_PART_STATE");
  panel->Send("OK  \r");
  Run(20);
  EXPECT_EQ(Commands().back(), "ACCOUNT=3456") << "\"OK\" with trailing blanks is OK";
}

TEST_F(Dialogue, TheTrafficLogHoldsEveryLineWithItsTimeStamp) {
  Connect();
  const auto log = TrafficLog();
  ASSERT_GE(log.size(), 6u);
  EXPECT_EQ(log[0], "2026-12-06 17:45:12.000 OUT: VERSION?");
  EXPECT_EQ(log[1].substr(0, 24), "2026-12-06 17:45:12.011 ") << "a reply waits for the 10 ms input batch";
  EXPECT_EQ(log[1].substr(23), " IN:  Brek GSM Main ver=5.1.10.6");
  EXPECT_EQ(log[2].substr(23), " OUT: AUTH=5916");
  EXPECT_EQ(log[3].substr(23), " IN:  OK");
  EXPECT_EQ(log[4].substr(23), " OUT: ZOLVA_SN?");
  EXPECT_EQ(log[5].substr(23), " IN:  ZOLVA_SN=123456");
  EXPECT_EQ(log[2].substr(0, 23), "2026-12-06 17:45:12.111");
  // The window closed 3 ms after a click: the reply in the ring still reaches the log.
  LoadDemo();
  window.MoneyOffButton.Click();
  Run(3);
  form.reset();
  const auto last = TrafficLog();
  ASSERT_GE(last.size(), 2u);
  EXPECT_EQ(last[last.size() - 2].substr(23), " OUT: ARM_ALLOWED=3");
  EXPECT_EQ(last.back().substr(23), " IN:  OK");
}

TEST_F(Dialogue, ATrafficLogThatCannotBeWrittenIsReportedAndTheDialogueGoesOn) {
  // A folder where the log file should be.
  std::filesystem::create_directories(Dir() / "logs" / ("Panel" + Today() + ".log"));
  Start();
  Run(300);
  EXPECT_EQ(form->CurrentState, psConnected);
  const auto log = ProgramErrorLog();
  ASSERT_GE(log.size(), 6u);
  EXPECT_NE(log[0].find("TBrekGSMDemoMainForm.AddOutControllerLog. Exception EInOutError. Exception message: "),
            std::string::npos);
  EXPECT_NE(log[1].find("TBrekGSMDemoMainForm.AddInpControllerLog. Exception EInOutError"), std::string::npos);
}

TEST_F(Dialogue, ResetInAnyCaseClosesThePortButACommandThatOnlyBeginsWithItDoesNot) {
  SetResourceLookup([](std::string_view name, std::string_view type) -> std::optional<std::string> {
    if (SameText(name, kStartScriptResource)) return std::string("ftdef\nRESETTING=1\nReset\n");
    return LoadOwnModuleResource(name, type);
  });
  Connect();
  window.StartDemoButton.Click();
  EXPECT_EQ(Commands().back(), "ftdef");
  Run(11);
  EXPECT_EQ(Commands().back(), "RESETTING=1");
  EXPECT_TRUE(panel->Held());
  Run(11);
  EXPECT_EQ(Commands().back(), "Reset");
  EXPECT_FALSE(panel->Held());
  EXPECT_TRUE(form->CheckPortsTimer->Enabled());
}

TEST_F(Dialogue, AScriptCutShortByAnUnplugIsDroppedAndCanBeWrittenAgain) {
  Connect();
  window.StartDemoButton.Click();
  Run(100);
  ASSERT_TRUE(form->ScriptRunning) << Commands().size() << " " << Commands().back();
  const std::size_t sent = Commands().size();
  panel->Unplug();
  Run(50);
  EXPECT_EQ(form->CurrentState, psWaitConnect);
  EXPECT_FALSE(form->ScriptRunning);
  EXPECT_FALSE(form->LoadDemoPending);
  EXPECT_FALSE(form->SendCommandTimer->Enabled());
  EXPECT_EQ(form->CommandsList->CommandCount(), 0);
  const auto log = ProgramErrorLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("script was interrupted by a disconnect and dropped"), std::string::npos);
  Run(120000);
  EXPECT_EQ(Commands().size(), sent) << "nothing more of the script goes out";

  panel->Plug();
  Run(500);
  EXPECT_EQ(form->CurrentState, psConnected) << "the return is a normal connection, not a completion";
  LoadDemo();
  EXPECT_EQ(form->CurrentState, psDemoLoaded);
}

TEST_F(Dialogue, AnEndlessLineIsCappedDroppedAndLoggedOnce) {
  PanelConfig c;
  c.scriptReply = ScriptReply::Silence;
  Start(c);
  Run(300);
  window.StartDemoButton.Click();
  Run(20);
  for (int i = 0; i < 10; ++i) {
    panel->Send(std::string(10000, 'x'));
    Run(20);
    EXPECT_LE(form->InputLine.size(), 32768u);
  }
  EXPECT_EQ(Commands().back(), "ftdef");
  panel->Send("tail\rOK\r");
  Run(20);
  EXPECT_EQ(Commands().back(), "REFRESH_PART_STATE");
  EXPECT_EQ(ProgramErrorLog().size(), 1u);
}

TEST_F(Dialogue, TheCompletionsRepliesAreHandledOnceAndInOrder) {
  PanelConfig c;
  c.replyDelayMs = 5;
  c.echo = true;
  Start(c);
  Run(400);
  window.StartDemoButton.Click();
  Run(12000);
  ASSERT_EQ(form->CurrentState, psDemoLoaded);
  const auto log = TrafficLog();
  // The lines from the completion on: each reply logged once, in the order sent.
  std::vector<std::string> tail;
  bool seenTamper = false;
  for (const auto& l : log) {
    const std::string text = l.substr(23);
    if (text == " OUT: ARM_IGNORE_TAMPER=1") seenTamper = true;
    if (seenTamper) tail.push_back(text.rfind(" OUT: TIME=", 0) == 0 ? " OUT: TIME=" : text.rfind(" IN:  TIME=", 0) == 0 ? " IN:  TIME=" : text);
  }
  // Each line goes out once the one before has its answer (its echo is passed over).
  EXPECT_EQ(tail, (std::vector<std::string>{" OUT: ARM_IGNORE_TAMPER=1", " IN:  ARM_IGNORE_TAMPER=1", " IN:  OK",
                                            " OUT: TIME=", " IN:  TIME=", " IN:  OK"}));
}

TEST_F(Dialogue, ALateReplyThatNamesAnEarlierCommandDoesNotAdvanceTheScript) {
  PanelConfig c;
  c.replyFor["STATEMAP=7,4"] = ScriptReply::Silence;
  c.replyFor["PART_ENABLED=0"] = ScriptReply::Silence;
  Start(c);
  Run(300);
  window.StartDemoButton.Click();
  Run(30000);
  panel->Send("BUSY\r\n");  // it still talks: the time-out sends the next command
  Run(31000);
  ASSERT_EQ(Commands().back(), "PART_ENABLED=0,1") << "the silent command was followed after its time-out";
  panel->Send("STATEMAP=7,4,4\r\nSTATEMAP: value error\r\n");  // its late echo and answer
  Run(20);
  EXPECT_EQ(Commands().back(), "PART_ENABLED=0,1");
  panel->Send("PART_ENABLED: value error\r\n");  // the running command's own
  Run(20);
  EXPECT_EQ(Commands().back(), "PART_ENABLED=1,1");
}

TEST_F(Dialogue, LinesBehindTheLineThatClosesThePortAreStillLogged) {
  PanelConfig c;
  c.answerFor["settings_save"] = "OK\r\nSAVED 1234";
  Start(c);
  Run(300);
  LoadDemo();
  const auto log = TrafficLog();
  const auto saved = std::find_if(log.begin(), log.end(), [](const std::string& l) { return l.find(" IN:  SAVED 1234") != std::string::npos; });
  ASSERT_NE(saved, log.end()) << "received in one piece with the OK that sent \"reset\"";
  EXPECT_NE(std::prev(saved)->find(" OUT: reset"), std::string::npos);
}

TEST_F(Dialogue, ACommandThatDidNotGoOutWholeLosesTheLinkAndIsNeverShownDone) {
  Connect();
  panel->Unplug(false);  // gone, and no notice yet: the port takes nothing
  window.StartDemoButton.Click();
  ui->RunPosted();
  const auto log = ProgramErrorLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(log[0].find("SendCommand: \"ftdef\" did not go out whole in 2000 ms; what was left of it was dropped"),
            std::string::npos) << log[0];
  EXPECT_NE(log[1].find("script was interrupted by a disconnect and dropped"), std::string::npos) << log[1];
  EXPECT_FALSE(panel->Held());
  panel->Plug(false);  // back, and its notice lost too: the check finds it
  Run(6000);
  EXPECT_EQ(form->CurrentState, psConnected) << "a new connection, not the completion of a script never written";
  // A payment command that does not go out does not switch the situation shown.
  LoadDemo();
  panel->Unplug(false);
  panel->discards = false;  // a driver that keeps what it was handed: said so
  window.MoneyOffButton.Click();
  ui->RunPosted();
  EXPECT_EQ(form->CurrentState, psWaitConnect);
  EXPECT_FALSE(window.MoneyOffButton.Enabled());
  EXPECT_NE(ProgramErrorLog().back().find("\"ARM_ALLOWED=3\" did not go out whole in 2000 ms; what was left of it "
                                          "may still reach the panel"),
            std::string::npos);
}

// A panel whose firmware starts after its USB side: every wait of the connection has a way out.
class SlowStart : public DialogueFixture {};

TEST_F(SlowStart, APanelThatLosesItsFirstLineAfterEachStartIsConnectedAndCompletedOnce) {
  PanelConfig c;
  c.loseAfterStart = 1;
  Start(c);
  Run(3000);
  ASSERT_EQ(form->CurrentState, psConnected) << "within 3 s of the plug";
  EXPECT_EQ(panel->Model().Lost(), std::vector<std::string>{"VERSION?"});
  EXPECT_EQ(Commands(), kConnect) << "asked again once; the rest once";
  window.StartDemoButton.Click();
  Run(10000);
  ASSERT_EQ(form->CurrentState, psDemoLoaded);
  EXPECT_EQ(panel->Model().Lost(), (std::vector<std::string>{"VERSION?", "VERSION?"}));
  EXPECT_EQ(Count("AUTH=5916"), 2u) << "once to connect, once in the completion";
  EXPECT_EQ(Count("ARM_IGNORE_TAMPER=1"), 1u);
  EXPECT_EQ(CountPrefix("TIME="), 1u);
  EXPECT_TRUE(ProgramErrorLog().empty());
  EXPECT_TRUE(ui->messageBoxes.empty());
}

TEST_F(SlowStart, ALateFirstAnswerRunsNoStepTwice) {
  PanelConfig c;
  c.replyDelayMs = 1500;  // the first question is answered after it was asked again
  Start(c);
  int versions = 1;  // the first went out as the port opened
  panel->afterWrite = [&](const std::string& bytes) {
    if (bytes == "VERSION?\r\n" && ++versions == 2) panel->Model().Config().replyDelayMs = 0;
  };
  Run(3000);
  ASSERT_EQ(form->CurrentState, psConnected);
  EXPECT_EQ(Count("VERSION?"), 2u);
  EXPECT_EQ(Count("AUTH=5916"), 1u);
  EXPECT_EQ(Count("ZOLVA_SN?"), 1u);
  // The same after the restart: two answers to "VERSION?", one completion.
  versions = 0;
  panel->afterWrite = [&](const std::string& bytes) {
    if (bytes.rfind("reset", 0) == 0) panel->Model().Config().replyDelayMs = 1500;
    if (bytes == "VERSION?\r\n" && ++versions == 2) panel->Model().Config().replyDelayMs = 0;
  };
  window.StartDemoButton.Click();
  Run(12000);
  ASSERT_EQ(form->CurrentState, psDemoLoaded);
  EXPECT_EQ(versions, 2);
  EXPECT_EQ(Count("AUTH=5916"), 2u);
  EXPECT_EQ(Count("ARM_IGNORE_TAMPER=1"), 1u);
  EXPECT_EQ(CountPrefix("TIME="), 1u);
}

TEST_F(SlowStart, APanelThatNeverAnswersIsAskedOnAScheduleThenLetGoOfAndOpenedAgain) {
  PanelConfig c;
  c.deafAfterStartMs = 25000;
  Start(c);
  Run(9998);
  EXPECT_TRUE(panel->Held());
  EXPECT_EQ(TrafficLog().size(), 4u) << "VERSION? at 0, 1, 3 and 7 s";
  Run(1);
  EXPECT_FALSE(panel->Held()) << "let go of after 10 s";
  EXPECT_EQ(form->OpenPortNumber, -1);
  EXPECT_TRUE(form->CheckPortsTimer->Enabled());
  const auto log = ProgramErrorLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("COM7 gave no usable answer to \"VERSION?\" in 10000 ms"), std::string::npos) << log[0];
  Run(5000);
  EXPECT_EQ(panel->Openings(), 2) << "the search opens it again";
  Run(16000);
  EXPECT_EQ(form->CurrentState, psConnected) << "once it reads, it is connected";
  EXPECT_EQ(ProgramErrorLog().size(), 1u) << "said once until it answered";
  EXPECT_EQ(Commands(), kConnect);
  EXPECT_TRUE(ui->messageBoxes.empty());
  // The first lines not taken at all (the device not reading yet) are asked again the same way.
  TearDown();
  SetUp();
  Start({}, false);
  panel->failWrites = 2;
  panel->Plug();
  Run(3000);
  EXPECT_EQ(form->CurrentState, psConnected);
}

TEST_F(SlowStart, LostPasswordAndSerialQuestionsAreAskedAgain) {
  // Three lines lost first: the password's wait counts from its own asking, not the version's.
  for (const auto& [firstLost, lost] : {std::pair(0, "AUTH="), std::pair(0, "ZOLVA_SN?"), std::pair(3, "AUTH=")}) {
    TearDown();
    SetUp();
    PanelConfig c;
    c.loseAfterStart = firstLost;
    c.loseFirst = lost;
    Start(c);
    Run(firstLost ? 9500 : 2000);
    EXPECT_EQ(form->CurrentState, psConnected) << lost;
    EXPECT_EQ(Commands(), kConnect) << lost;
    EXPECT_EQ(panel->Model().Lost().size(), 1u + firstLost) << lost;
    EXPECT_TRUE(ProgramErrorLog().empty()) << lost;
  }
}

TEST_F(SlowStart, AnUnusableAnswerEndsTheWaitAndIsReportedOnce) {
  // An answer is no silence: the port is kept with the state it gives, nothing more is sent.
  for (const char* serial : {"NOT SET", "12x", ""}) {
    TearDown();
    SetUp();
    PanelConfig c;
    if (*serial)
      c.serial = serial;
    else
      c.version = "6.0.10.6";
    Start(c);
    Run(600000);
    EXPECT_EQ(panel->Openings(), 1) << serial;
    EXPECT_EQ(Commands(), *serial ? kConnect : std::vector<std::string>{"VERSION?"}) << serial;
    EXPECT_TRUE(panel->Held()) << serial;
    EXPECT_EQ(form->CurrentState, psWaitConnect) << serial;
    EXPECT_EQ(ProgramErrorLog().size(), 1u) << serial;
  }
  // A panel that shows its fault keeps it shown: too old a build, a wrong password.
  for (bool wrongPassword : {false, true}) {
    TearDown();
    SetUp();
    PanelConfig shown;
    if (wrongPassword)
      shown.password = PasswordMode::Wrong;
    else
      shown.version = "5.1.9.99";
    Start(shown);
    Run(60000);
    EXPECT_TRUE(panel->Held()) << wrongPassword;
    EXPECT_EQ(ui->messageBoxes.size(), wrongPassword ? 1u : 0u);
    EXPECT_EQ(Commands().size(), wrongPassword ? 2u : 1u);
  }
}

// A panel writing its flash takes every line in turn, each after a delay.
TEST_F(SlowStart, ABusyPanelIsAskedEachQuestionAtMostTwiceAndNoAnswerIsTakenForAnother) {
  std::uint32_t perLine = 0;
  for (std::uint32_t each : {3000u, 1200u}) {
    TearDown();
    SetUp();
    PanelConfig c;
    c.replyDelayMs = perLine = each;
    c.oneLineAtATime = true;
    c.answerFor[""] = "UNKNOWN_COMMAND";  // a firmware that answers the empty line too
    Start(c);
    while (form->CurrentState != psConnected && ui->NowMs() < 30000) Run(10);
    ASSERT_EQ(form->CurrentState, psConnected) << perLine;
    std::printf("a panel answering in %u ms: connected in %llu ms, asked VERSION? %zu, AUTH= %zu, ZOLVA_SN? %zu times\n",
                perLine, static_cast<unsigned long long>(ui->NowMs()), Count("VERSION?"), Count("AUTH=5916"),
                Count("ZOLVA_SN?"));
    for (const auto& question : kConnect) EXPECT_LE(Count(question), perLine < 3000 ? 2u : 3u) << perLine << question;
    EXPECT_TRUE(form->UsePassword) << perLine << ": that answer came while \"AUTH=\" was open";
  }
  EXPECT_EQ(panel->Openings(), 1);
  // The bar: not within the script's first second; then commands answered, the restart, the return.
  const TProgressBar& bar = window.ScriptProgressBar;
  window.StartDemoButton.Click();
  Run(900);
  EXPECT_FALSE(bar.Visible());
  Run(5200);
  EXPECT_TRUE(bar.Visible());
  EXPECT_EQ(std::pair(bar.Position(), bar.Max()), std::pair(static_cast<int>(6100 / perLine), 67 + 2));
  while (!form->Restart().waiting) Run(100);
  EXPECT_EQ(std::pair(bar.Position(), bar.GetMode()), std::pair(67, TProgressBar::Mode::Paused));
  Run(300000);
  ASSERT_EQ(form->CurrentState, psDemoLoaded);
  EXPECT_FALSE(bar.Visible());
  // A payment and the factory settings 0.3 s later: no line goes out before the answer to the one before.
  std::vector<std::pair<std::uint64_t, std::string>> heard;
  panel->afterWrite = [&](const std::string& bytes) { heard.emplace_back(ui->NowMs(), bytes); };
  window.MoneyLittleButton.Click();
  Run(300);
  window.EndDemoButton.Click();
  Run(15000);
  ASSERT_GE(heard.size(), 4u);
  EXPECT_EQ(heard[3].second, "reset\r\n");
  for (std::size_t i = 1; i < 4; ++i) EXPECT_GE(heard[i].first - heard[i - 1].first, perLine) << heard[i].second;
}

// After "reset": the completion goes to the panel that restarted, and only to it.
TEST_F(SlowStart, TheCompletionWaitsForTheRestartAndGoesOnlyToThePanelThatGotTheScript) {
  PanelConfig c;
  c.leaveAfterResetMs = 1500;  // its USB side stays while it finishes writing
  Start(c);
  Run(300);
  std::uint64_t resetAt = 0;
  panel->afterWrite = [&](const std::string& bytes) {
    if (bytes == "reset\r\n") resetAt = ui->NowMs();
  };
  window.StartDemoButton.Click();
  while (!resetAt) Run(1);
  Run(300);
  devices->AddPort({"COM3", "", true});  // any notice in the meantime
  while (form->CurrentState != psDemoLoaded && ui->NowMs() < resetAt + 20000) Run(1);
  EXPECT_EQ(form->CurrentState, psDemoLoaded);
  EXPECT_EQ(Count("ARM_IGNORE_TAMPER=1"), 1u);
  std::printf("back 3000 ms after \"reset\", demo loaded %llu ms after it\n",
              static_cast<unsigned long long>(ui->NowMs() - resetAt));
  // Not back within a minute: the script is dropped; back later, it is connected afresh.
  panel->Model().Config().restartMs = 90000;
  window.EndDemoButton.Click();
  Run(61000);
  EXPECT_EQ(form->CurrentState, psWaitConnect);
  ASSERT_EQ(ProgramErrorLog().size(), 1u);
  EXPECT_NE(ProgramErrorLog()[0].find("did not come back within 60000 ms"), std::string::npos);
  EXPECT_EQ(window.ScriptProgressBar.GetMode(), TProgressBar::Mode::Error) << "for a moment, on the taskbar";
  Run(40000);
  EXPECT_EQ(form->CurrentState, psConnected);
  // Another panel (another serial number) back in its place is connected as itself.
  panel->Model().Config().restartMs = 3000;
  panel->afterWrite = [&](const std::string& bytes) {
    if (bytes == "reset\r\n") panel->Model().Config().serial = "777777";
  };
  window.StartDemoButton.Click();
  Run(10000);
  EXPECT_EQ(form->CurrentState, psConnected);
  EXPECT_EQ(form->AccountNumber, 7777);
  EXPECT_EQ(Count("ARM_IGNORE_TAMPER=1"), 1u);
  EXPECT_EQ(ProgramErrorLog().size(), 2u);
  // Back, then lost again within the completion: the minute still ends the wait.
  panel->afterWrite = [&](const std::string& b) { if (b == "ZOLVA_SN?\r\n" && form->LoadDemoPending) panel->Unplug(); };
  window.StartDemoButton.Click();
  Run(70000);
  EXPECT_EQ(form->CurrentState, psWaitConnect);
  EXPECT_EQ(ProgramErrorLog().size(), 3u);
  // Gone at once on "reset": its removal comes before the port's word that the line was written.
  TearDown();
  SetUp();
  Start();
  Run(300);
  panel->afterWrite = [&](const std::string& bytes) { if (bytes == "reset\r\n") panel->Unplug(); };
  window.StartDemoButton.Click();
  Run(10000);
  EXPECT_EQ(form->CurrentState, psDemoLoaded);
  // The same, but "reset" was never taken: the script is dropped, not completed on its return.
  panel->afterWrite = [&](const std::string& bytes) { if (bytes == "settings_save\r\n") panel->failWrites = 1; };
  panel->onFailedWrite = [&] { panel->Unplug(); };
  window.EndDemoButton.Click();
  Run(10000);
  EXPECT_NE(ProgramErrorLog().back().find("interrupted by a disconnect and dropped"), std::string::npos);
  // Answered before the port's word that it was written, then gone (or gone before the
  // write could be seen through): its restart is still awaited, and ends at the minute.
  const auto restartMs = panel->Model().Config().restartMs;
  for (const bool cut : {true, false}) {
    panel->afterWrite = nullptr;
    panel->Model().Config().restartMs = restartMs;
    panel->Plug();
    Run(1000);
    LoadDemo();
    panel->Model().Config().restartMs = 90000;
    panel->afterWrite = [&](const std::string& bytes) {
      if (bytes == "settings_save\r\n") ui->holdWork = true;
      if (bytes == "reset\r\n") panel->Unplug();
    };
    window.EndDemoButton.Click();
    Run(50);
    panel->Send("OK\r");
    Run(20);
    if (cut) panel->Unplug(false);
    ui->ReleaseWork();
    Run(61000);
    EXPECT_EQ(form->CurrentState, psWaitConnect) << cut;
    EXPECT_NE(ProgramErrorLog().back().find("did not come back within 60000 ms"), std::string::npos) << cut;
  }
}

// The panel's restart is known by its going, not guessed by the clock.
TEST_F(SlowStart, TheCompletionWaitsUntilThePanelWentHoweverLongItsUsbStaysOrItsReturnTakes) {
  const struct {
    std::uint32_t leave, back;  // its USB side gone, and back, after "reset"
    bool notices;
    std::uint32_t loadedBy;
  } cases[] = {{8000, 11000, true, 12000},  // it finishes writing its flash first
               {50, 90000, true, 91000},    // its modem looks for its network: the minute passes
               {50, 1000, false, 5500}};    // gone and back between two checks, its notices lost
  for (const auto& c : cases) {
    TearDown();
    SetUp();
    PanelConfig config;
    config.leaveAfterResetMs = c.leave;
    config.restartMs = c.back;
    Start(config);
    Run(300);
    devices->noticesLost = !c.notices;
    std::uint64_t resetAt = 0;
    panel->afterWrite = [&](const std::string& bytes) { if (bytes == "reset\r\n") resetAt = ui->NowMs(); };
    window.StartDemoButton.Click();
    while (!resetAt) Run(1);
    Run(c.loadedBy);
    EXPECT_EQ(form->CurrentState, psDemoLoaded) << c.back;
    EXPECT_EQ(Count("ARM_IGNORE_TAMPER=1"), 1u) << c.back << ": completed once, after it went";
    EXPECT_EQ(panel->Openings(), 2) << c.back;
    EXPECT_EQ(ProgramErrorLog().size(), c.back > 60000 ? 1u : 0u) << c.back << ": the window left loading at the minute";
  }
}

TEST_F(SlowStart, AStartMainThatIsLostIsSentAgainAfterTheCheck) {
  PanelConfig c;
  c.bootloaderFirst = true;
  c.loseFirst = "START_MAIN";
  Start(c);
  Run(100);
  EXPECT_FALSE(panel->Held());
  EXPECT_TRUE(form->CheckPortsTimer->Enabled()) << "no removal follows: the check looks again";
  Run(9000);
  EXPECT_EQ(form->CurrentState, psConnected);
  EXPECT_EQ(Commands(),
            (std::vector<std::string>{"VERSION?", "VERSION?", "START_MAIN", "VERSION?", "AUTH=5916", "ZOLVA_SN?"}));
}

}  // namespace
}  // namespace brek::test
