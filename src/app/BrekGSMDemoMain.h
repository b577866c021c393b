#pragma once
// TBrekGSMDemoMainForm: the one window controller. Start-up, settings and teardown
// (Startup.cpp), demo states (States.cpp), the device dialogue (Dialogue.cpp), the
// traffic log (TrafficLog.cpp), port discovery and hot-plug (HotPlug.cpp).
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/DialogueSteps.h"
#include "app/ProgramState.h"
#include "common/CommonUtils.h"
#include "common/UserFolders.h"
#include "serial/PortRec.h"
#include "ui/MainWindowLayout.h"
#include "ui/Toolkit.h"

namespace brek {

class TCommandsList;
class TComPortKX;
enum class TWritten;
enum class TProbe : std::uint8_t;
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
  // How far a script being written has got: its commands answered, then the restart and
  // the completion; shown once the script has run for a second.
  void ShowScriptProgress();
  void OnProgressTimer();
  void ShowScriptDropped();

  // ---- Device dialogue ----
  // Hands the line to the port; the number of its block (0 when the port is not open).
  // Whether the panel got it comes with OnComPortWritten.
  std::uint64_t SendCommand(const std::string& text);
  // A line written whole, or not (not taken in 2 s: a ready link is then let go of as lost).
  void OnComPortWritten(std::uint64_t block, TWritten outcome);
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
  // The open question's waits: asked again, given up, or let go of (Steps.cpp).
  void OnQuestionTimer();
  // After "reset": the 20 s guard before reopening by the clock, the 60 s end of "loading",
  // the 5 min end of the late completion (Restart.cpp).
  void OnRestartTimer();
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
  // The probes of the panel ports came back (made off the user-interface thread).
  void OnPortsProbed(const std::vector<std::int32_t>& numbers, const std::vector<TProbe>& answers);
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
  std::unique_ptr<Timer> QuestionTimer;
  std::unique_ptr<Timer> RestartTimer;
  std::unique_ptr<Timer> ProgressTimer;
  // The open question, if any, and the restart that a script's "reset" began.
  const Question& OpenQuestion() const { return Asked_; }
  const RestartWait& Restart() const { return Restart_; }

 private:
  // Hands the step's line to the port and opens its question, whose waits start once the
  // port says it was written. True when the question is open on a port: whether the panel
  // got the line comes later (OnComPortWritten).
  bool Ask(Step step, const std::string& command);
  void AskAgain();
  bool QuestionOpen() const { return Asked_.step != Step::None && Asked_.opening == Opening_; }
  // The open question was answered: the panel's answer time is noted and the question closed.
  void Answered();
  void ArmQuestionTimer();
  unsigned SilenceBoundMs() const;
  std::uint64_t NowMs() const { return Ui().TickMs(); }
  // A plain step answered, refused or ended at its time: what follows it.
  void AfterPlainStep(Step step);
  void PlainStepAnswered(const std::string* refusal);
  std::uint64_t KeyLineEndsAtMs() const;
  // A plain step refused or not answered: one error-log line.
  void PlainStepFailed(const Question& question, const char* operation, const std::string& what);
  // Buttons pressed while a question was open, clicked once nothing is.
  void RunHeldClicks();
  bool HoldClick(TButton& button);
  void SerialNumberAnswered(const std::string& value);
  // ---- The restart after "reset" (Restart.cpp) ----
  void BeginRestart();
  // "reset" reached the panel: the script is written, its restart and completion follow.
  void ResetWritten();
  // The port is let go of: a "reset" still with it is awaited (gone: the panel was seen going).
  void AwaitResetOnLetGo(bool gone);
  // The word on a "reset" still with the port when the port was let go of.
  void AwaitedResetWritten(bool whole);
  // A listing: the panel that got "reset" is seen gone when its port is not listed, or is
  // another plugging of its device.
  void CheckRestartSeenGone();
  // The panel back after "reset" told its serial number.
  void RestartedPanelAnswered(const std::string& value);
  // Not back in time: the window leaves loading, the script is said not completed, and only
  // the panel that got it may still complete it.
  void LeaveLoading(const char* operation, const std::string& why);
  void EndRestartWait();
  void FinishCompletion();
  bool ReopenAllowed() const;
  void GiveUpOnPort();
  // The one disconnect step for a port that is lost (gone: its device hung up or is no
  // longer listed) or of no use; the search goes on.
  void LetGoOfPort(bool gone = false);
  // Every closing of the port goes through here: lines already received are logged first.
  void ClosePort();
  void ReleaseOneShotTimers();
  Toolkit& Ui() const { return *Context_.toolkit; }
  MainWindowControls& W() const { return *Context_.window; }

  void DestroyPort();
  bool PortOpen() const;  // the port object holds an opened port
  bool PortOpening() const;  // an opening is under way
  std::int32_t PortInUse() const;  // the number of the port open, opening or ready; -1 when none
  void ProbeNextPorts();
  void HandleVersionReply(const std::string& line);
  void DispatchLine();
  bool IsLateScriptReply(const std::string& upperLine) const;
  // The script just loaded starts: its progress counted from now.
  void BeginScript();
  // A script that will not be completed: said once in the error log, never shown as written.
  void DropScript(const char* operation, const std::string& why);
  // A panel that answered with something of no use: said once an opening.
  void ReportUnusableAnswer(const char* operation, const std::string& why);
  // A payment button: send its command and show its situation, guarded under its name.
  void SwitchSituation(const char* operation, const char* command, TProgrammState state);
  Timer* CreateOneShot(unsigned ms, void (TBrekGSMDemoMainForm::*handler)(Timer*));
  void ReleaseTimer(Timer* timer);

  FormContext Context_;
  bool InReceive_ = false;        // the receive handler is running (re-entry is deferred)
  bool ReceiveDeferred_ = false;  // data arrived while it was running
  bool LineOverlong_ = false;     // the line being assembled passed the cap and is dropped
  std::vector<std::unique_ptr<Timer>> OneShotTimers_;
  // The running script's commands sent so far and their keys, upper-cased.
  std::vector<std::pair<std::string, std::string>> ScriptSent_;
  Question Asked_;
  std::deque<TButton*> HeldClicks_;
  RestartWait Restart_;
  std::uint64_t Opening_ = 0;  // one per opening of the port: a question belongs to one
  std::uint64_t OpenedAtMs_ = 0;
  std::uint64_t LastByteAtMs_ = 0;  // the panel's last byte on this opening (0: none yet)
  std::uint64_t BytesSeen_ = 0;
  std::uint64_t AnswerTimeMs_ = 0;  // the longest an answer took after its latest asking, this opening
  std::uint64_t Consumed_ = 0;      // bytes of this opening taken off the ring
  std::int32_t SilentPortReported_ = -1;  // "gave no usable answer" said of it, and it has not answered since
  bool CutLineReported_ = false;  // "did not go out whole" said, and nothing answered since
  std::uint64_t ScriptStartedAtMs_ = 0;
  int ScriptLength_ = 0;
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
  // One probe at a time: a device that hangs holds each for seconds, and the checks must not
  // queue up behind it. A listing made meanwhile is probed once the answers are in.
  bool ProbeOut_ = false;
  std::vector<std::int32_t> ProbeNext_;
  bool ConnectAfterProbe_ = false;  // a listing since the last answers asked to connect
  std::deque<std::pair<std::uint64_t, std::string>> Sent_;  // lines handed to the port, not yet written
  std::uint64_t AwaitedReset_ = 0;  // the block of a "reset" whose word decides the script's end
  bool AwaitedResetGone_ = false;   // its port was let go of because the panel went
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
