// Start-up, settings and teardown of the main window.
#include "app/BrekGSMDemoMain.h"
#include "common/CommonUtils.h"
#include "common/Cp1251.h"
#include "common/Format.h"
#include "common/Guard.h"
#include "common/Paths.h"
#include "common/Profile.h"
#include "scripts/CaptionsList.h"
#include "scripts/CommandsList.h"
#include "serial/ComPortKX.h"

namespace brek {

namespace {
constexpr const char* kSettingsFile = "BrekGSMDemo.ini";
constexpr const char* kSettingsSection = "ProgrammSet";
constexpr const char* kDefaultErrorLog = "ErrorLog.log";
constexpr unsigned kCheckPortsInterval = 5000;
constexpr unsigned kSendCommandInterval = 60000;
// A script's lines come every few milliseconds: each reopening of the log costs 10 ms under Wine.
constexpr unsigned kTrafficLogHoldMs = 1000;
}  // namespace

const std::string& MessageBoxCaption() {
  static const std::string text = Utf8ToCp1251("Брек GSM: демонстрация работы.");
  return text;
}

const std::string& NoStartCommandsMessage() {
  static const std::string text = Utf8ToCp1251("Нет комманд для запуска демо режима");
  return text;
}

std::string Greyed(const std::string& text) { return "<FONT color=\"#96938D\">" + text + "</FONT>"; }

const std::string& GreyDashes() {
  static const std::string text = "<FONT color=\"#96938D\">\x97\x97</FONT>";
  return text;
}

TBrekGSMDemoMainForm::TBrekGSMDemoMainForm(FormContext context) : Context_(std::move(context)) {
  ProgramFolder_ = FolderPart(Context_.exePath);
  MainWindowControls& w = W();
  w.StartDemoButton.OnClick = [this] { OnStartDemoButtonClick(); };
  w.EndDemoButton.OnClick = [this] { OnEndDemoButtonClick(); };
  w.MoneyLittleButton.OnClick = [this] { OnMoneyLittleButtonClick(); };
  w.MoneyOffButton.OnClick = [this] { OnMoneyOffButtonClick(); };
  w.MoneyFullButton.OnClick = [this] { OnMoneyFullButtonClick(); };
  OnFormCreate();
}

TBrekGSMDemoMainForm::~TBrekGSMDemoMainForm() { OnFormDestroy(); }

void TBrekGSMDemoMainForm::OnFormCreate() {
  Guarded("TBrekGSMDemoMainForm.OnFormCreate", [&] {
    W().Caption = DesignedWindowCaption() + " " + GetFileVersion(Context_.exePath);
    W().SecurityCenterPanel.SetColor(kSecurityCenterPanelColor);
    CreateRegister();
    ReadIniFile();
    CheckPortsTimer = Ui().CreateTimer(kCheckPortsInterval, true, [this] { OnCheckPortsTimer(); });
    QuestionTimer = Ui().CreateTimer(1000, false, [this] { OnQuestionTimer(); });
    RestartTimer = Ui().CreateTimer(5000, false, [this] { OnRestartTimer(); });
    ProgressTimer = Ui().CreateTimer(1000, false, [this] { OnProgressTimer(); });
    TrafficLogRelease_ = Ui().CreateTimer(kTrafficLogHoldMs, false, [this] { ReleaseTrafficLog(); });
    PortList.clear();
    SetPortDefault();
    RefreshComPorts(true);
    SendCommandTimer = Ui().CreateTimer(kSendCommandInterval, false, [this] { OnSendCommandTimer(); });
    Ui().SetApplicationExceptionHandler([this](const std::exception& e) { OnApplicationException(e); });
    StartProgramTimer_ = Ui().CreateTimer(1, true, [this] { OnStartProgramTimer(StartProgramTimer_.get()); });
  });
}

void TBrekGSMDemoMainForm::OnStartProgramTimer(Timer* sender) {
  Guarded("TBrekGSMDemoMainForm.OnStartProgramTimer", [&] {
    if (sender && sender == StartProgramTimer_.get()) StartProgramTimer_.reset();  // fires once
    CaptionsList = std::make_unique<TCaptionsList>();
    InitCaption();
    SetStartState();
    CommandsList = std::make_unique<TCommandsList>(ProgramFolder_);
    CommandsList->InitStartCmd();
    if (CommandsList->CommandCount() >= 1) {
      Ui().ShowMainWindow();
    } else {
      ShowMessageBox(NoStartCommandsMessage(), MB_ICONERROR);
      Ui().CloseMainWindow();
    }
  });
}

void TBrekGSMDemoMainForm::OnFormDestroy() {
  if (Destroyed_) return;
  Destroyed_ = true;
  Guarded("TBrekGSMDemoMainForm.OnFormDestroy", [&] {
    Ui().SetApplicationExceptionHandler({});
    // Cut by the close like any other cut: said once in the error log (a late completion's
    // script was said at its minute).
    if (!Restart_.late) DropScript("TBrekGSMDemoMainForm.OnFormDestroy", "was interrupted by closing the program and dropped");
    DestroyPort();
    CheckPortsTimer.reset();
    QuestionTimer.reset();
    RestartTimer.reset();
    ProgressTimer.reset();
    SendCommandTimer.reset();
    OneShotTimers_.clear();
    StartProgramTimer_.reset();
    CaptionsList.reset();
    CommandsList.reset();
    ClearPortList();
  });
}

void TBrekGSMDemoMainForm::OnApplicationException(const std::exception& e) {
  LogException(e, "TBrekGSMDemoMainForm.OnApplicationException");
}

void TBrekGSMDemoMainForm::InitCaption() {
  Guarded("TBrekGSMDemoMainForm.InitCaption", [&] {
    Shown_.reset();  // a state drawn before the captions existed was drawn blank
    MainWindowControls& w = W();
    w.StartDemoButton.SetCaption(GetCaption("StartDemoButton_Caption"));
    w.MoneyLittleButton.SetCaption(GetCaption("MoneyLittleButton_Caption"));
    w.MoneyOffButton.SetCaption(GetCaption("MoneyOffButton_Caption"));
    w.MoneyFullButton.SetCaption(GetCaption("MoneyFullButton_Caption"));
    w.EndDemoButton.SetCaption(GetCaption("EndDemoButton_Caption"));
    w.ObjectsTitleLabel.SetHTMLText(Greyed(GetCaption("ObjectsTitle_Caption")));
    w.ObjectsValueLabel.SetHTMLText(GreyDashes());
    w.CallCenterTitleLabel.SetHTMLText(Greyed(GetCaption("CallCenterTitle_Caption")));
    w.CallCenterValueLabel.SetHTMLText(GreyDashes());
    w.NubrixTitleLabel.SetHTMLText(Greyed(GetCaption("NubrixTitle_Caption")));
    w.NubrixValueLabel.SetHTMLText(GreyDashes());
  });
}

void TBrekGSMDemoMainForm::SetStartState() {
  Guarded("TBrekGSMDemoMainForm.SetStartState", [&] {
    DeviceReady = false;
    ScriptRunning = false;
    LoadDemoPending = false;
    LoadFtdefPending = false;
    EndRestartWait();
    UsePassword = false;
    SerialNumber = -1;
    AccountNumber = 0;
    CurrentState = psWaitConnect;
    ShowCurrentState();
  });
}

void TBrekGSMDemoMainForm::ReadIniFile() {
  Guarded("TBrekGSMDemoMainForm.ReadIniFile", [&] {
    const std::string ini = FindSettingsFile(ProgramFolder_, Context_.folders, kSettingsFile);

    const std::string traffic = ReadProfileString(ini, kSettingsSection, "ControllerLogFileName", "");
    ControllerLogEnabled = false;
    ControllerLogFileName.clear();
    if (!traffic.empty()) {
      const std::string folder = FolderPart(traffic);
      if (FolderExists(folder)) {
        ControllerLogEnabled = true;
        ControllerLogFileName = folder + WithoutExtension(FileNamePart(traffic)) + DateStamp() + ".log";
      }
    }

    const std::string errors = ReadProfileString(ini, kSettingsSection, "ErrorLogFileName", "");
    std::string errorLog;
    // "Beside the program" unless an installed program may not write there.
    if (errors.empty())
      errorLog = DefaultLogFolder(ProgramFolder_, Context_.folders) + kDefaultErrorLog;
    else if (FolderExists(errors))
      // A folder named: the log goes into it (as a file name it could never be opened).
      errorLog = (FileNamePart(errors).empty() ? errors : errors + kPathSeparators[0]) + kDefaultErrorLog;
    else if (FileNamePart(errors).empty())
      errorLog = DefaultLogFolder(ProgramFolder_, Context_.folders) + kDefaultErrorLog;
    else if (!FolderExists(FolderPart(errors)))
      errorLog = DefaultLogFolder(ProgramFolder_, Context_.folders) + FileNamePart(errors);
    else
      errorLog = errors;
    SetErrorLogFileName(errorLog);
  });
}

void TBrekGSMDemoMainForm::ShowMessageBox(const std::string& text, unsigned flags) {
  Ui().ShowMessageBox(text, MessageBoxCaption(), flags);
}

}  // namespace brek
