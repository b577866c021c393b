#pragma once
// TBrekGSMDemoMainForm: the one window controller. Start-up, settings and teardown
// (Startup.cpp), demo states (States.cpp), the device dialogue (Dialogue.cpp), the
// traffic log (TrafficLog.cpp), port discovery and hot-plug (HotPlug.cpp).
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/ProgramState.h"
#include "common/CommonUtils.h"
#include "common/UserFolders.h"
#include "serial/PortRec.h"
#include "ui/MainWindowLayout.h"
#include "ui/Toolkit.h"

namespace brek {

class TCommandsList;
class TComPortKX;
class SerialDevices;
struct DeviceChangeMessage;

inline constexpr const char* DefaultPassword = "5916";
inline constexpr const char* kDeviceWord = "Tuvo";
// "AUTH=" with the password: the only one the program sends.
inline std::string AuthCommand() { return std::string("AUTH=") + DefaultPassword; }

// What the program entry hands the controller.
struct FormContext {
  Toolkit* toolkit = nullptr;
  MainWindowControls* window = nullptr;
  std::string exePath;  // the program's executable: its version and its folder
  SerialDevices* devices = nullptr;  // the system's serial ports and device notices
  UserFolders folders{};             // none: a portable copy, everything beside the executable
};

class TBrekGSMDemoMainForm {
 public:
  // Creating the window runs OnFormCreate; destroying it runs OnFormDestroy.
  explicit TBrekGSMDemoMainForm(FormContext context);
  ~TBrekGSMDemoMainForm();
  TBrekGSMDemoMainForm(const TBrekGSMDemoMainForm&) = delete;
  TBrekGSMDemoMainForm& operator=(const TBrekGSMDemoMainForm&) = delete;

  // ---- Start-up, settings and lifecycle ----
  void OnFormCreate();
  void OnStartProgramTimer(Timer* sender);
  void OnFormDestroy();
  void OnApplicationException(const std::exception& e);
  void InitCaption();
  void SetStartState();
  void ReadIniFile();
  void ShowMessageBox(const std::string& text, unsigned flags);

  // ---- Demo states ----
  void ShowCurrentState();

  // ---- Device dialogue ----
  // False when the panel did not get the line (the port took it only in part, or not at
  // all); a ready link is then let go of as lost.
  bool SendCommand(const std::string& text);
  std::string Bytes2String(const std::uint8_t* bytes, std::size_t count);
  void OnComPortReceiveData();
  void NewString(const std::string& line);
  void OnComPortOpen();
  void StartMain();
  void CheckConnectedDevice();
  void OnAskPasswordTimer(Timer* sender);
  void StartWrongPasswordTimer();
  void OnWrongPasswordTimer(Timer* sender);
  void NextCommandFromList();
  void OnSendCommandTimer();
  void OnStartDemoButtonClick();
  void OnEndDemoButtonClick();
  void OnMoneyLittleButtonClick();
  void OnMoneyOffButtonClick();
  void OnMoneyFullButtonClick();
  void OnConnectButtonClick();
  // A panel that has not answered a step of the connection is asked again, and let go of
  // when it stays without an answer (the search then opens it again).
  void OnConnectWatchdogTimer();
  // The port's device hung up (pulled without a notice, say): the one disconnect step.
  void OnComPortGone();

  // ---- Traffic log ----
  void AddOutControllerLog(const std::string& text);
  void AddInpControllerLog(const std::string& text);

  // ---- Port discovery and hot-plug ----
  void CreateRegister();
  void SetPortDefault();
  void RefreshComPorts(bool connect);
  void OnCheckPortsTimer();
  void OnDeviceChange(const DeviceChangeMessage& message);
  void ClearPortList();
  void FillComPortsList();
  void FillFriendlyNames();
  std::string GetDeviceName(const std::vector<std::string>& set, std::size_t index);
  void CheckComPortsEnabled();
  std::int32_t GetTestedPortNumber();

  // The program's folder, with its trailing separator.
  const std::string& ProgramFolder() const { return ProgramFolder_; }

  // ---- Fields (declaration order of the window) ----
  std::unique_ptr<TComPortKX> ComPort;
  std::vector<std::unique_ptr<TPortRec>> PortList;
  std::unique_ptr<Timer> CheckPortsTimer;
  bool DeviceReady = false;
  std::int32_t OpenPortNumber = 0;
  std::string FirmwareVersion;
  TProgrammState CurrentState = psWaitConnect;
  std::vector<std::uint8_t> InputLine;
  std::int32_t InputLineLength = 0;
  std::string LastCommand;
  std::string ReplyKey;
  bool ControllerLogEnabled = false;
  std::string ControllerLogFileName;
  // Held through a burst of lines (Windows) and let go of a second after its first line,
  // so that readers that share no writing get their turn.
  HeldAppendFile TrafficLogFile_;
  std::unique_ptr<Timer> TrafficLogRelease_;
  void AppendTrafficLine(const char* marker, const std::string& text);  // raises EInOutError
  void ReleaseTrafficLog();
  bool ScriptRunning = false;
  std::unique_ptr<Timer> SendCommandTimer;
  std::unique_ptr<TCommandsList> CommandsList;
  bool LoadDemoPending = false;
  bool LoadFtdefPending = false;
  std::int32_t SerialNumber = 0;
  std::int32_t AccountNumber = 0;
  bool UsePassword = false;
  std::unique_ptr<Timer> ConnectWatchdogTimer;

 private:
  // The step of the connection whose answer is awaited.
  enum class ConnectStep { None, Version, Password, Serial };
  void AwaitStep(ConnectStep step);
  void AskStepAgain();
  void GiveUpOnPort();
  // The one disconnect step for a port that is lost or of no use; the search goes on.
  void LetGoOfPort();
  // Every closing of the port goes through here: lines already received are logged first.
  void ClosePort();
  void ReleaseOneShotTimers();
  Toolkit& Ui() const { return *Context_.toolkit; }
  MainWindowControls& W() const { return *Context_.window; }

  void DestroyPort();
  bool PortOpen() const;  // the port object holds an opened port
  void HandleVersionReply(const std::string& line);
  void DispatchLine();
  bool IsLateScriptReply(const std::string& upperLine) const;
  void DropInterruptedScript();
  // A panel that answered with something of no use: said once an opening.
  void ReportUnusableAnswer(const char* operation, const std::string& why);
  // A payment button: send its command and show its situation, guarded under its name.
  void SwitchSituation(const char* operation, const char* command, TProgrammState state);
  Timer* CreateOneShot(unsigned ms, void (TBrekGSMDemoMainForm::*handler)(Timer*));
  void ReleaseTimer(Timer* timer);

  FormContext Context_;
  bool ResetSent_ = false;        // the disconnect is the one our own "reset" asked for
  bool InReceive_ = false;        // the receive handler is running (re-entry is deferred)
  bool ReceiveDeferred_ = false;  // data arrived while it was running
  bool LineOverlong_ = false;     // the line being assembled passed the cap and is dropped
  std::vector<std::unique_ptr<Timer>> OneShotTimers_;
  // The running script's commands sent so far and their keys, upper-cased.
  std::vector<std::pair<std::string, std::string>> ScriptSent_;
  ConnectStep AwaitedStep_ = ConnectStep::None;
  unsigned StepWaitedMs_ = 0;  // since the step's first question
  std::int32_t PassedOverPort_ = -1;  // let go of for not answering: others go first
  bool PanelNamesListed_ = false;  // the last listing had the panel's device set
  bool HeldPortReported_ = false;  // the panel's port held by another program was logged
  bool WrongPasswordAnswered_ = false;  // this opening's refusal is being shown
  bool UnusableReported_ = false;
  std::uint64_t ArrivedAtSend_ = 0;  // the port's byte count when the last script command went out
  // The state and account the window shows: a line repeated by the panel does not lay out
  // the window again.
  std::optional<std::pair<TProgrammState, std::int32_t>> Shown_;
  std::string ProgramFolder_;
  std::vector<char> NameBuffer_;  // the device-name list
  std::unique_ptr<Timer> StartProgramTimer_;
  bool Destroyed_ = false;
};

// Fixed texts of the program (Windows-1251).
const std::string& MessageBoxCaption();
const std::string& WrongPasswordMessage();
const std::string& NoStartCommandsMessage();
// "<FONT color="#96938D">%s</FONT>" and the grey dashes.
std::string Greyed(const std::string& text);
const std::string& GreyDashes();

}  // namespace brek
