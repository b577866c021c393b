// The dialogue's edges: framing, which comparisons heed letter case, the traffic log's
// file handling, the password message's timing and the scripts' corner cases.
#include "common/Text.h"
#include "scripts/Resources.h"
#include "support/DialogueFixture.h"

namespace brek::test {
namespace {

using sim::PanelConfig;
using sim::ScriptReply;

class Edges : public DialogueFixture {
 protected:
  // Starts writing the demo settings against a panel that answers nothing by itself, and
  // waits for the given command to go out.
  void ScriptUpTo(const std::string& command) {
    PanelConfig c;
    c.scriptReply = ScriptReply::Silence;
    Start(c);
    Run(300);
    ASSERT_EQ(form->CurrentState, psConnected);
    window.StartDemoButton.Click();
    for (int i = 0; i < 200 && Commands().back() != command; ++i) Run(1);
    ASSERT_EQ(Commands().back(), command);
  }
  // The panel answers line; true when the script moved on to another command.
  bool Advances(const std::string& line) {
    const std::size_t before = Commands().size();
    panel->Send(line + "\r\n");
    Run(20);
    return Commands().size() > before;
  }
  void StartAnswering(const std::string& command, const std::string& reply) {
    PanelConfig c;
    c.answerFor[command] = reply;
    Start(c);
    Run(500);
  }
};

TEST_F(Edges, EveryLineGoesOutWithCrLfExactly) {
  std::vector<std::string> writes;
  Start({}, false);
  panel->afterWrite = [&](const std::string& bytes) { writes.push_back(bytes); };
  panel->Plug();
  Run(300);
  LoadDemo();
  window.MoneyOffButton.Click();
  window.EndDemoButton.Click();
  Run(10000);
  ASSERT_GT(writes.size(), 80u);
  for (const std::string& w : writes) {
    ASSERT_GE(w.size(), 2u);
    EXPECT_EQ(w.substr(w.size() - 2), "\r\n") << w;
    EXPECT_EQ(w.find_first_of("\r\n"), w.size() - 2) << "one line a write: " << w;
  }
  EXPECT_EQ(writes[0], "\r\n") << "the empty line before the first query";
}

TEST_F(Edges, TheSimulatedPanelReportsAnyOtherLineEnd) {
  sim::PanelModel lf, lfCr, crOnly, crLf;
  lf.Receive("VERSION?\n");
  lfCr.Receive("VERSION?\n\r");
  crOnly.Receive("VERSION?\rZOLVA_SN?");
  crLf.Receive("VERSION?\r");
  crLf.Receive("\nZOLVA_SN?\r\n");
  EXPECT_EQ(lf.FramingErrors(), std::vector<std::string>{"LF without CR in \"VERSION?\""});
  EXPECT_EQ(lfCr.FramingErrors(), std::vector<std::string>{"LF without CR in \"VERSION?\""});
  EXPECT_EQ(crOnly.FramingErrors(), std::vector<std::string>{"CR without LF after \"VERSION?\""});
  EXPECT_TRUE(crLf.FramingErrors().empty()) << "CR LF split across two reads";
  EXPECT_EQ(crLf.Commands(), (std::vector<std::string>{"VERSION?", "ZOLVA_SN?"}));
}

TEST_F(Edges, ScriptRepliesOkAndUnknownCommandHeedLetterCaseValueErrorAndKeysDoNot) {
  ScriptUpTo("ftdef");
  EXPECT_FALSE(Advances("ok"));
  EXPECT_FALSE(Advances("Unknown_Command"));
  EXPECT_TRUE(Advances("OK"));
  ASSERT_EQ(Commands().back(), "REFRESH_PART_STATE");
  EXPECT_TRUE(Advances("UNKNOWN_COMMAND"));
  ASSERT_EQ(Commands().back(), "ACCOUNT=3456");
  EXPECT_TRUE(Advances("VALUE ERROR"));
  ASSERT_EQ(Commands().back(), "ZOLVA_SN_ENABLED=1");
  EXPECT_TRUE(Advances("zolva_sn_enabled: stored")) << "a reply key in other letters";
  EXPECT_EQ(Commands().back(), "ZONE_ENABLED=0,1");
}

TEST_F(Edges, VersionRepliesHeedLetterCase) {
  StartAnswering("VERSION?", "Brek GSM main ver=5.1.10.6");
  EXPECT_EQ(Commands(), std::vector<std::string>{"VERSION?"}) << "\"main\" is not the main program";
  EXPECT_FALSE(form->DeviceReady);
  TearDown();
  SetUp();
  StartAnswering("VERSION?", "bootloader v2.0");
  EXPECT_EQ(Commands(), std::vector<std::string>{"VERSION?"}) << "\"bootloader\" is not the start-up program";
  EXPECT_TRUE(panel->Held());
  TearDown();
  SetUp();
  // Neither is a line with "Main" that names no version (a boot banner, a garbled line).
  for (const char* line : {"Brek GSM Main VER=5.1.10.6", "Main loop started"}) {
    TearDown();
    SetUp();
    StartAnswering("VERSION?", line);
    EXPECT_FALSE(form->DeviceReady) << line;
    EXPECT_EQ(form->CurrentState, psWaitConnect);
  }
}

TEST_F(Edges, PasswordAndSerialNumberRepliesHeedLetterCase) {
  StartAnswering("AUTH=5916", "ok");
  EXPECT_EQ(Commands(), (std::vector<std::string>{"VERSION?", "AUTH=5916"}));
  TearDown();
  SetUp();
  StartAnswering("ZOLVA_SN?", "zolva_sn=123456");
  EXPECT_EQ(form->CurrentState, psWaitConnect);
  EXPECT_EQ(form->SerialNumber, -1);
  TearDown();
  SetUp();
  Connect();
  LoadDemo();
  panel->Model().Config().answerFor["ZOLVA_SN?"] = "ZOLVA_SN=not set";
  window.EndDemoButton.Click();
  Run(10000);
  EXPECT_EQ(form->SerialNumber, -1) << "\"not set\" is no number, not the NOT SET that keeps it";
}

TEST_F(Edges, TheWrongPasswordMessageComesOneHundredMillisecondsAfterTheReplyOnceAnOpening) {
  PanelConfig c;
  c.password = sim::PasswordMode::Wrong;
  c.wrongPasswordLine = "WRONG PASSWORD";
  c.replyDelayMs = 7;
  Start(c);
  for (int i = 0; i < 400 && Commands().size() < 2; ++i) Run(1);
  ASSERT_EQ(Commands().back(), "AUTH=5916");
  std::uint64_t replyAt = 0;
  for (int i = 0; i < 100 && replyAt == 0; ++i) {
    Run(1);
    for (const auto& l : TrafficLog())
      if (l.find(" IN:  WRONG PASSWORD") != std::string::npos) replyAt = ui->NowMs();
  }
  ASSERT_NE(replyAt, 0u);
  Run(98);
  EXPECT_TRUE(ui->messageBoxes.empty()) << "not sooner than 100 ms";
  Run(3);
  EXPECT_EQ(ui->messageBoxes.size(), 1u);
  panel->Send("WRONG PASSWORD\r\n");
  panel->Send("wrong password\r\n");
  Run(200);
  EXPECT_EQ(ui->messageBoxes.size(), 1u) << "once an opening: the same refusal again shows nothing new";
  // Answering 1.5 s late: the password is asked once (the panel has shown that it answers
  // that slowly), one box.
  panel->Unplug();
  Run(10);
  panel->Model().Config().replyDelayMs = 1500;
  panel->Plug();
  Run(8000);
  EXPECT_EQ(Count("AUTH=5916"), 2u);
  EXPECT_EQ(ui->messageBoxes.size(), 2u);
}

TEST_F(Edges, TheTrafficLogIsAppendedToAndKeepsTheOrderWithinAMillisecond) {
  std::filesystem::create_directories(Dir() / "logs");
  WriteFile(Dir() / "logs" / ("Panel" + Today() + ".log"), "earlier run\r\n");
  Connect();
  const auto log = TrafficLog();
  ASSERT_GE(log.size(), 7u);
  EXPECT_EQ(log[0], "earlier run");
  // The reply to AUTH and ZOLVA_SN? sent in answer to it share their millisecond.
  EXPECT_EQ(log[4].substr(23), " IN:  OK");
  EXPECT_EQ(log[5].substr(23), " OUT: ZOLVA_SN?");
  EXPECT_EQ(log[4].substr(0, 23), log[5].substr(0, 23));
}

TEST_F(Edges, WithTheTrafficLogOffADemonstrationWritesNoLogFile) {
  for (const std::string& text : {std::string(), "[ProgrammSet]\r\nControllerLogFileName=" +
                                                    (Dir() / "no-such-folder" / "Panel.txt").string() + "\r\n"}) {
    settings = text;
    Connect();
    LoadDemo();
    window.EndDemoButton.Click();
    Run(10000);
    EXPECT_EQ(form->CurrentState, psConnected);
    EXPECT_FALSE(std::filesystem::exists(Dir() / "no-such-folder"));
    for (const auto& e : std::filesystem::recursive_directory_iterator(Dir()))
      EXPECT_EQ(e.path().filename().string().rfind("Panel", 0), std::string::npos) << e.path();
    EXPECT_TRUE(ProgramErrorLog().empty());
    TearDown();
    SetUp();
  }
}

TEST_F(Edges, EmptyScriptsAtTheClick) {
  Connect();
  SetResourceLookup([](std::string_view name, std::string_view type) -> std::optional<std::string> {
    if (SameText(name, kEndScriptResource) || SameText(name, kStartScriptResource)) return std::string();
    return LoadOwnModuleResource(name, type);
  });
  const std::size_t before = Commands().size();
  window.EndDemoButton.Click();
  Run(100);
  EXPECT_EQ(form->CurrentState, psConnected) << "an empty end script does nothing";
  EXPECT_FALSE(form->LoadFtdefPending);
  EXPECT_TRUE(ui->messageBoxes.empty());
  EXPECT_FALSE(ui->closed);
  window.StartDemoButton.Click();
  Run(100);
  ASSERT_EQ(ui->messageBoxes.size(), 1u);
  EXPECT_EQ(ui->messageBoxes[0].text, W("Нет комманд для запуска демо режима"));
  EXPECT_TRUE(ui->closed);
  EXPECT_EQ(Commands().size(), before);
}

TEST_F(Edges, TheFactoryCompletionWithoutAPasswordSendsNoAuthAndEndsConnected) {
  PanelConfig c;
  c.password = sim::PasswordMode::NoPassword;
  Start(c);
  Run(300);
  LoadDemo();
  const std::size_t before = Commands().size();
  window.EndDemoButton.Click();
  Run(10000);
  EXPECT_EQ(CommandsSince(before), (std::vector<std::string>{"ftdef", "settings_save", "reset", "VERSION?", "ZOLVA_SN?"}));
  EXPECT_EQ(form->CurrentState, psConnected);
  EXPECT_FALSE(form->LoadFtdefPending);
}

TEST_F(Edges, NotSetAfterTheFactoryRestartIsAnotherPanelWhenTheFirstHadANumber) {
  Connect();
  LoadDemo();
  panel->Model().Config().serial = "NOT SET";
  window.EndDemoButton.Click();
  Run(10000);
  EXPECT_EQ(Commands().back(), "ZOLVA_SN?");
  EXPECT_EQ(form->CurrentState, psWaitConnect) << "connected as itself: no number, not connected";
  EXPECT_EQ(form->SerialNumber, -1);
  ASSERT_FALSE(ProgramErrorLog().empty());
  EXPECT_NE(ProgramErrorLog()[0].find("not the serial number 123456"), std::string::npos) << ProgramErrorLog()[0];
}

class ThrowingDevices : public sim::FakeSerialDevices {
 public:
  using FakeSerialDevices::FakeSerialDevices;
  bool RegisterDeviceNotification(std::function<void(const DeviceChangeMessage&)>) override {
    throw std::runtime_error("no notices here");
  }
};

TEST_F(Edges, AFailureBeforeTheSettingsAreReadGoesToTheInitialErrorLog) {
  ui = std::make_unique<VirtualToolkit>();
  ThrowingDevices throwing(*ui);
  form = std::make_unique<TBrekGSMDemoMainForm>(FormContext{ui.get(), &window, (Dir() / "BrekGSMDemo").string(), &throwing});
  ui->Advance(1);
  const auto early = ErrorLog();
  ASSERT_EQ(early.size(), 1u);
  EXPECT_NE(early[0].find("TBrekGSMDemoMainForm.CreateRegister"), std::string::npos);
  EXPECT_NE(early[0].find("no notices here"), std::string::npos);
  EXPECT_TRUE(ProgramErrorLog().empty());
  form.reset();
}

}  // namespace
}  // namespace brek::test
