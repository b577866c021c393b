#include "common/CommonUtils.h"
#include "common/Exceptions.h"
#include "common/Text.h"
#include "scripts/CaptionsList.h"
#include "scripts/CommandsList.h"
#include "scripts/Resources.h"
#include "support/FormFixture.h"

namespace brek::test {
namespace {

class Startup : public FormFixture {
 protected:
  void WriteSettings(const std::string& body) { WriteFile(Dir() / "BrekGSMDemo.ini", "[ProgrammSet]\r\n" + body); }
};

TEST_F(Startup, TheWindowStartsHiddenAndShowsTheWaitingStateAfterTheStartupTimer) {
  Start(false);
  EXPECT_FALSE(ui->shown);
  EXPECT_EQ(window.Caption, W("Брек GSM: демонстрация работы. Версия "));  // no version record here
  EXPECT_EQ(window.SecurityCenterPanel.GetColor(), Color::Rgb(243, 245, 246));
  ASSERT_NE(form->CheckPortsTimer, nullptr);
  EXPECT_TRUE(form->CheckPortsTimer->Enabled());
  EXPECT_EQ(form->CheckPortsTimer->Interval(), 5000u);
  EXPECT_FALSE(form->SendCommandTimer->Enabled());
  EXPECT_EQ(form->SendCommandTimer->Interval(), 60000u);
  EXPECT_EQ(CaptionsList, nullptr);

  ui->Advance(1);
  EXPECT_TRUE(ui->shown);
  EXPECT_FALSE(ui->closed);
  ASSERT_NE(CaptionsList, nullptr);
  ASSERT_NE(form->CommandsList, nullptr);
  EXPECT_EQ(form->CommandsList->CommandCount(), 80);
  EXPECT_EQ(form->CurrentState, psWaitConnect);
  EXPECT_EQ(form->SerialNumber, -1);
  EXPECT_EQ(form->AccountNumber, 0);
  EXPECT_EQ(window.ProgrammStateInfoLabel.HTMLText(), GetCaption("WaitConnect_StateInfo"));
  EXPECT_EQ(window.UserActionInfoLabel.HTMLText(), "");
  for (TButton* b : window.ButtonsInCreationOrder()) EXPECT_FALSE(b->Enabled()) << b->Caption();
  EXPECT_EQ(window.StartDemoButton.Caption(), W("Записать демо-настройки"));
  EXPECT_EQ(window.MoneyFullButton.Caption(), W("Услуги оплачены"));
  EXPECT_EQ(window.ObjectsTitleLabel.HTMLText(), W("<FONT color=\"#96938D\"><B>Объекты</B></FONT>"));
  EXPECT_EQ(window.NubrixValueLabel.HTMLText(), "<FONT color=\"#96938D\">\x97\x97</FONT>");
  EXPECT_TRUE(ProgramErrorLog().empty());

  // The start-up timer fired once and was released.
  const auto timers = ui->LiveTimers();
  ui->Advance(100);
  EXPECT_EQ(ui->LiveTimers(), timers);
}

TEST_F(Startup, TheStartStateHoldsWhateverHappenedBeforeTheStartupTimer) {
  Start(false);
  form->CurrentState = psConnected;
  form->SerialNumber = 123456;
  form->AccountNumber = 3456;
  form->DeviceReady = form->UsePassword = form->LoadDemoPending = form->ScriptRunning = true;
  ui->Advance(1);
  EXPECT_EQ(form->CurrentState, psWaitConnect);
  EXPECT_EQ(form->SerialNumber, -1);
  EXPECT_EQ(form->AccountNumber, 0);
  EXPECT_FALSE(form->DeviceReady || form->UsePassword || form->LoadDemoPending || form->ScriptRunning);
  // A state drawn before the captions exist is drawn again once they do.
  Start(false);
  form->ShowCurrentState();
  ui->Advance(1);
  EXPECT_FALSE(window.ProgrammStateInfoLabel.HTMLText().empty());
}

TEST_F(Startup, AStartScriptWithoutCommandsEndsTheProgramWithAMessageAndNoWindow) {
  SetResourceLookup([](std::string_view name, std::string_view type) -> std::optional<std::string> {
    if (SameText(name, kStartScriptResource)) return std::nullopt;
    return LoadOwnModuleResource(name, type);
  });
  Start();
  EXPECT_FALSE(ui->shown);
  EXPECT_TRUE(ui->closed);
  ASSERT_EQ(ui->messageBoxes.size(), 1u);
  EXPECT_EQ(ui->messageBoxes[0].text, W("Нет комманд для запуска демо режима"));
  EXPECT_EQ(ui->messageBoxes[0].caption, W("Брек GSM: демонстрация работы."));
  EXPECT_EQ(ui->messageBoxes[0].flags, 16u);
}

TEST_F(Startup, WithoutASettingsFileTheTrafficLogIsOffAndErrorsGoBesideTheProgram) {
  Start();
  EXPECT_FALSE(form->ControllerLogEnabled);
  EXPECT_EQ(form->ControllerLogFileName, "");
  EXPECT_EQ(ErrorLogFileName(), (Dir() / "ErrorLog.log").string());
}

TEST_F(Startup, TrafficLogNameGetsTheStartupDateInItsFolder) {
  std::filesystem::create_directories(Dir() / "logs");
  const std::string logs = (Dir() / "logs").string() + "/";
  struct Case {
    std::string value, expected;
  } cases[] = {
      {logs + "Panel.txt", logs + "Panel20261206.log"},
      {logs + "Panel", logs + "Panel20261206.log"},
      {logs + "a.b.txt", logs + "a.b20261206.log"},
  };
  for (const Case& c : cases) {
    WriteSettings("ControllerLogFileName=" + c.value + "\r\n");
    Start();
    EXPECT_TRUE(form->ControllerLogEnabled) << c.value;
    EXPECT_EQ(form->ControllerLogFileName, c.expected);
    form.reset();
  }
  EXPECT_FALSE(std::filesystem::exists(logs + "Panel20261206.log"));  // named, not yet written
}

TEST_F(Startup, TrafficLogInAMissingFolderOrWithoutAFolderStaysOff) {
  for (const std::string& value : {(Dir() / "nowhere" / "Panel.txt").string(), std::string("Panel.txt")}) {
    WriteSettings("ControllerLogFileName=" + value + "\r\n");
    Start();
    EXPECT_FALSE(form->ControllerLogEnabled) << value;
    EXPECT_EQ(form->ControllerLogFileName, "");
    form.reset();
  }
  EXPECT_FALSE(std::filesystem::exists(Dir() / "nowhere"));
}

TEST_F(Startup, ErrorLogSettingFallsBackToTheProgramFolder) {
  WriteSettings("ErrorLogFileName=" + (Dir() / "nowhere" / "Errors.txt").string() + "\r\n");
  Start();
  EXPECT_EQ(ErrorLogFileName(), (Dir() / "Errors.txt").string());
  form.reset();

  std::filesystem::create_directories(Dir() / "elsewhere");
  WriteSettings("errorlogfilename=" + (Dir() / "elsewhere" / "E.log").string() + "\r\n");
  Start();
  EXPECT_EQ(ErrorLogFileName(), (Dir() / "elsewhere" / "E.log").string());
  form.reset();

  WriteSettings("ErrorLogFileName=Plain.log\r\n");  // no folder part: beside the program
  Start();
  EXPECT_EQ(ErrorLogFileName(), (Dir() / "Plain.log").string());
  form.reset();

  // A folder named, with or without its separator: the log goes into it.
  for (const std::string& folder : {(Dir() / "elsewhere").string(), (Dir() / "elsewhere" / "").string()}) {
    WriteSettings("ErrorLogFileName=" + folder + "\r\n");
    Start();
    EXPECT_EQ(ErrorLogFileName(), (Dir() / "elsewhere" / "ErrorLog.log").string()) << folder;
    form.reset();
  }
  // As Notepad saves it: a byte-order mark first, a comment after the section's name.
  WriteFile(Dir() / "BrekGSMDemo.ini", "\xEF\xBB\xBF[ProgrammSet] ; the demonstrator's\r\nErrorLogFileName=Noted.log\r\n");
  Start();
  EXPECT_EQ(ErrorLogFileName(), (Dir() / "Noted.log").string());
}

TEST_F(Startup, ExceptionsThatEscapeAHandlerAreLoggedAndShowNothing) {
  Start();
  ui->Dispatch([] { throw EConvertError("escaped"); });
  const auto log = ProgramErrorLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find(": TBrekGSMDemoMainForm.OnApplicationException. Exception EConvertError. Exception message: escaped"),
            std::string::npos);
  EXPECT_TRUE(ui->messageBoxes.empty());
}

TEST_F(Startup, DestroyingTheWindowReleasesEverything) {
  Start();
  form.reset();
  EXPECT_EQ(CaptionsList, nullptr);
  EXPECT_EQ(ui->LiveTimers(), 0u);
}

}  // namespace
}  // namespace brek::test
