// The line dialogue with the panel: framing, line assembly on the receive ring, the
// version check, password and serial number, script sending and the five buttons.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "app/BrekGSMDemoMain.h"
#include "common/CMLEncode.h"
#include "common/CommonUtils.h"
#include "common/Cp1251.h"
#include "common/Guard.h"
#include "common/Text.h"
#include "scripts/CommandsList.h"
#include "serial/ComPortKX.h"

namespace brek {
namespace {

constexpr std::uint8_t CR = 0x0D;
constexpr unsigned kAskPasswordDelay = 100;
constexpr unsigned kWrongPasswordDelay = 100;
constexpr const char* kBuildReference = "5.1.10.6";

std::string TimeCommand() {
  const SYSTEMTIME now = DateTime2SystemTime(EncodeDateTime(NowLocal()));
  return "TIME=" + std::to_string(Time2CmlUInt64(now, false));
}

}  // namespace

const std::string& WrongPasswordMessage() {
  static const std::string text = Utf8ToCp1251(
      "Прибор, подключенный к компьютеру, защищен паролем.\r\n"
      "Для использования прибора в демонстрационных целях необходимо выполнить сброс настроек прибора в "
      "заводские значения.\r\n"
      "Сброс выполняется программой настройки прибора, которую можно загрузить с сайта технической "
      "поддержки производителя.");
  return text;
}

Timer* TBrekGSMDemoMainForm::CreateOneShot(unsigned ms, void (TBrekGSMDemoMainForm::*handler)(Timer*)) {
  auto holder = std::make_shared<Timer*>(nullptr);
  auto timer = Ui().CreateTimer(ms, true, [this, handler, holder] { (this->*handler)(*holder); });
  *holder = timer.get();
  OneShotTimers_.push_back(std::move(timer));
  return *holder;
}

void TBrekGSMDemoMainForm::ReleaseTimer(Timer* timer) {
  const auto it = std::find_if(OneShotTimers_.begin(), OneShotTimers_.end(),
                               [timer](const std::unique_ptr<Timer>& t) { return t.get() == timer; });
  if (it != OneShotTimers_.end()) OneShotTimers_.erase(it);  // safe inside the timer's own tick
}

std::uint64_t TBrekGSMDemoMainForm::SendCommand(const std::string& text) {
  std::uint64_t number = 0;
  Guarded("TBrekGSMDemoMainForm.SendCommand", [&] {
    AddOutControllerLog(text);
    std::vector<std::uint8_t> block(text.begin(), text.end());
    block.push_back(0x0D);
    block.push_back(0x0A);
    if (ComPort) number = ComPort->PutBlock(block.data(), static_cast<std::int32_t>(block.size()));
    if (number) Sent_.emplace_back(number, text);
  });
  return number;
}

void TBrekGSMDemoMainForm::OnComPortWritten(std::uint64_t block, TWritten outcome) {
  Guarded("TBrekGSMDemoMainForm.SendCommand", [&] {
    bool whole = outcome == TWritten::Whole;
    if (block == AwaitedReset_) return AwaitedResetWritten(whole);
    const auto it = std::find_if(Sent_.begin(), Sent_.end(), [&](const auto& s) { return s.first == block; });
    if (it == Sent_.end()) return;  // a line of an opening since closed
    const std::string text = it->second;
    Sent_.erase(Sent_.begin(), std::next(it));
    // "reset" answered ends the script before this word: the panel heard it, though the
    // device went before the write could be seen through (it restarts).
    if (!whole && SameText(text, "RESET") && !ScriptRunning && (LoadDemoPending || LoadFtdefPending) && !Restart_.waiting)
      whole = true;
    if (!whole) {
      // Once until the panel answers: a port that takes nothing would grow the log at each
      // asking of each opening.
      if (!std::exchange(CutLineReported_, true))
        WriteErrLog("TBrekGSMDemoMainForm.SendCommand: \"" + text + "\" did not go out whole in " +
                    std::to_string(kWriteTimeoutMs) + " ms; what was left of it " +
                    (outcome == TWritten::MayStillReach ? "may still reach the panel" : "was dropped"));
      // A port that takes nothing is as lost as a pulled cable: nothing may be shown as
      // done that the panel never heard. Before the version is answered the line is asked
      // again like a lost one.
      if (DeviceReady) {
        LetGoOfPort();
        return;
      }
    }
    if (QuestionOpen() && Asked_.inFlight && Asked_.block == block) {
      const std::uint64_t now = NowMs();
      Asked_.inFlight = false;
      if (!Asked_.written) Asked_.askedAtMs = now;
      Asked_.written = true;
      Asked_.lastAskAtMs = now;
      if (whole && Asked_.shows) {
        CurrentState = *Asked_.shows;
        ShowCurrentState();
      }
      ArmQuestionTimer();
    }
    if (whole && SameText(text, "RESET")) {
      ResetWritten();
      OnConnectButtonClick();  // lets go of the port: the panel restarts
      if (CheckPortsTimer) CheckPortsTimer->SetEnabled(true);
    }
  });
}

std::string TBrekGSMDemoMainForm::Bytes2String(const std::uint8_t* bytes, std::size_t count) {
  std::string result;
  Guarded("TBrekGSMDemoMainForm.Bytes2String", [&] {
    std::size_t b = 0;
    while (b < count && (bytes[b] == '\r' || bytes[b] == '\n' || bytes[b] == ' ')) ++b;
    std::size_t e = count;
    while (e > b && bytes[e - 1] <= 0x20) --e;
    result.assign(reinterpret_cast<const char*>(bytes) + b, e - b);
  });
  return result;
}

void TBrekGSMDemoMainForm::OnComPortReceiveData() {
  // A modal message box lets the message loop run, and with it this handler: a nested
  // call only notes that data waits, and the running call scans again when it is done.
  if (InReceive_) {
    ReceiveDeferred_ = true;
    return;
  }
  InReceive_ = true;
  Guarded("TBrekGSMDemoMainForm.OnComPortReceiveData", [&] {
    if (ComPort && ComPort->BytesArrived() != BytesSeen_) {
      BytesSeen_ = ComPort->BytesArrived();
      LastByteAtMs_ = NowMs();
    }
    do {
      ReceiveDeferred_ = false;
      if (!ComPort) break;
      TComPortKX& port = *ComPort;
      const std::uint8_t* ring = port.InpBuf();
      std::int32_t size = port.InpBufSize();
      std::size_t cap = static_cast<std::size_t>(size);
      auto append = [&](std::int32_t from, std::int32_t count) {
        if (LineOverlong_) return;
        if (InputLine.size() + static_cast<std::size_t>(count) > cap) {
          // A panel that never ends its line must not grow memory without bound.
          WriteErrLog("TBrekGSMDemoMainForm.OnComPortReceiveData: a reply line longer than " +
                      std::to_string(cap) + " bytes without CR was dropped");
          InputLine.clear();
          InputLineLength = 0;
          LineOverlong_ = true;
          return;
        }
        InputLine.insert(InputLine.end(), ring + from, ring + from + count);
        InputLineLength = static_cast<std::int32_t>(InputLine.size());
      };
      std::int32_t index = port.StartInInpBuf();
      std::int32_t n = 0;
      while (ComPort && port.ReceivedBytes() > 0 && n < port.ReceivedBytes()) {
        // What has come lies from the start up to the ring's end at most: look for the CR
        // in that at once rather than byte by byte.
        const std::int32_t end = static_cast<std::int32_t>(
            std::min<std::int64_t>(std::int64_t{port.StartInInpBuf()} + port.ReceivedBytes(), size));
        if (end <= index) break;
        const auto* cr =
            static_cast<const std::uint8_t*>(std::memchr(ring + index, CR, static_cast<std::size_t>(end - index)));
        const std::int32_t step = cr ? static_cast<std::int32_t>(cr - (ring + index)) + 1 : end - index;
        n += step;
        index += step;
        if (cr) {
          append(port.StartInInpBuf(), n);
          port.SetInpBufRead(true);
          port.TakeBytes(n);
          port.SetInpBufRead(false);
          Consumed_ += static_cast<std::uint64_t>(n);
          n = 0;
          DispatchLine();
          if (!ComPort) break;
          // The dispatch may have closed and opened the port again (a lost link let go of,
          // the search run): the ring then starts anew, so the scan goes on from its start.
          ring = port.InpBuf();
          size = port.InpBufSize();
          cap = static_cast<std::size_t>(size);
          index = port.StartInInpBuf();
          continue;
        }
        if (index >= size) {
          port.SetInpBufRead(true);
          if (n > 0) {
            append(port.StartInInpBuf(), n);
            port.TakeBytes(n);
            Consumed_ += static_cast<std::uint64_t>(n);
          }
          port.RestartAtRingStart();
          port.SetInpBufRead(false);
          n = 0;
          index = 0;
        }
      }
    } while (ReceiveDeferred_);
  });
  InReceive_ = false;
}

void TBrekGSMDemoMainForm::DispatchLine() {
  const bool dropped = LineOverlong_;
  LineOverlong_ = false;
  const std::string line = Bytes2String(InputLine.data(), InputLine.size());
  InputLine.clear();
  InputLineLength = 0;
  if (dropped) return;
  AddInpControllerLog(line);
  // Offered to the open question only: a late answer to an earlier one, a line that had
  // come before the question was asked, or a line nobody asked for, is in the traffic log
  // and changes nothing.
  if (line.empty() || !QuestionOpen() || SameText(line, Asked_.command) || Consumed_ <= Asked_.afterByte) return;
  if (DeviceReady)
    NewString(line);
  else
    HandleVersionReply(line);
  RunHeldClicks();
}

void TBrekGSMDemoMainForm::HandleVersionReply(const std::string& line) {
  if (Asked_.step != Step::AskVersion) return;
  if (ContainsText(line, "Bootloader")) {
    Answered();
    LastCommand = "START_MAIN";
    SendCommand(LastCommand);
    Ui().Sleep(5);
    // As after "reset": if no removal follows (the line was lost, or the panel stays in
    // its start-up program), the check looks again.
    LetGoOfPort();
    return;
  }
  // A boot banner or a garbled line may hold "Main"; the version answer names its version.
  if (!ContainsText(line, "Main") || !ContainsText(line, "ver=")) return;
  Answered();
  DeviceReady = true;
  FirmwareVersion = line.substr(line.find("ver=") + 4);
  if (LoadDemoPending || LoadFtdefPending) {
    // The restarted panel: who it is decides whether the script is completed.
    Restart_.back = true;
    ShowScriptProgress();
    if (UsePassword)
      Ask(Step::AskPassword, AuthCommand());
    else
      Ask(Step::AskSerialNumber, "ZOLVA_SN?");
    return;
  }
  CheckConnectedDevice();
  ShowCurrentState();
}

void TBrekGSMDemoMainForm::CheckConnectedDevice() {
  Guarded("TBrekGSMDemoMainForm.CheckConnectedDevice", [&] {
    if (!CheckHardVersionBranch("5.1", FirmwareVersion) && !CheckHardVersionBranch("5.2", FirmwareVersion)) {
      CurrentState = psWaitConnect;
      // An answer, not a silence: asking again or reopening gets the same one.
      ReportUnusableAnswer("TBrekGSMDemoMainForm.CheckConnectedDevice", "answered the version " + FirmwareVersion +
                                                                            ", of a firmware family not supported");
      return;
    }
    const int build = CheckHardVersion(kBuildReference, FirmwareVersion);
    if (build == 0 || build == 2) {
      CreateOneShot(kAskPasswordDelay, &TBrekGSMDemoMainForm::OnAskPasswordTimer);
    } else {
      CurrentState = psWrongVersion;  // shown to the demonstrator: the port stays as it is
    }
  });
}

void TBrekGSMDemoMainForm::OnAskPasswordTimer(Timer* sender) {
  Guarded("TBrekGSMDemoMainForm.OnAskPasswordTimer", [&] {
    ReleaseTimer(sender);
    Ask(Step::AskPassword, AuthCommand());
  });
}

void TBrekGSMDemoMainForm::StartWrongPasswordTimer() {
  Guarded("TBrekGSMDemoMainForm.StartWrongPasswordTimer",
          [&] { CreateOneShot(kWrongPasswordDelay, &TBrekGSMDemoMainForm::OnWrongPasswordTimer); });
}

void TBrekGSMDemoMainForm::OnWrongPasswordTimer(Timer* sender) {
  Guarded("TBrekGSMDemoMainForm.OnWrongPasswordTimer", [&] {
    ReleaseTimer(sender);
    ShowMessageBox(WrongPasswordMessage(), MB_ICONERROR);
  });
}

bool TBrekGSMDemoMainForm::IsLateScriptReply(const std::string& upper) const {
  // A reply that came after its command's time-out would advance the command sent after
  // it, and every later one would then go out one reply early. Where the line shows whose
  // it is (an earlier command echoed, or an earlier command's key named first) it is not
  // the running command's answer. A bare "OK" cannot tell and still advances.
  if (ScriptSent_.size() < 2) return false;
  const std::string& currentKey = ScriptSent_.back().second;
  auto namesFirst = [&](const std::string& key) {
    if (key.empty() || upper.rfind(key, 0) != 0) return false;
    if (upper.size() == key.size()) return true;
    const unsigned char next = static_cast<unsigned char>(upper[key.size()]);
    return !(std::isalnum(next) || next == '_');
  };
  const bool namesCurrent = namesFirst(currentKey);
  for (std::size_t i = 0; i + 1 < ScriptSent_.size(); ++i) {
    const auto& [command, key] = ScriptSent_[i];
    if (upper == command && command != ScriptSent_.back().first) return true;
    if (!namesCurrent && key != currentKey && namesFirst(key)) return true;
  }
  return false;
}

void TBrekGSMDemoMainForm::NewString(const std::string& line) {
  Guarded("TBrekGSMDemoMainForm.NewString", [&] {
    if (line.empty() || SameText(line, LastCommand)) return;  // an echo
    switch (Asked_.step) {
      case Step::ScriptCommand: {
        const std::string upper = UpperCase(line);  // once for every comparison below
        if (IsLateScriptReply(upper)) return;
        if (line == "OK" || line == "UNKNOWN_COMMAND" ||
            (!ReplyKey.empty() && upper.find(UpperCase(ReplyKey)) != std::string::npos) ||
            upper.find("VALUE ERROR") != std::string::npos) {
          Answered();
          NextCommandFromList();
        }
        return;
      }
      case Step::AskPassword:
        if (line == "OK" || line == "UNKNOWN_COMMAND") {
          Answered();
          UsePassword = line == "OK";
          Ask(Step::AskSerialNumber, "ZOLVA_SN?");
        } else if (ContainsTextNoCase(line, "WRONG PASSWORD")) {
          Answered();  // the message says what to do
          DropScript("TBrekGSMDemoMainForm.NewString", "was not completed: the panel back after \"reset\" refused the password");
          // Once an opening: a question asked again is refused again.
          if (!WrongPasswordAnswered_) StartWrongPasswordTimer();
          WrongPasswordAnswered_ = true;
          ShowCurrentState();
        }
        return;
      case Step::AskSerialNumber:
        if (const auto at = line.find("ZOLVA_SN="); at != std::string::npos) {
          Answered();
          SerialNumberAnswered(line.substr(at + 9));
        }
        return;
      case Step::SetTamper:
      case Step::SetTime:
      case Step::Payment: {
        const std::string key = Asked_.command.substr(0, Asked_.command.find('='));
        // "value error", an "ERROR: ..." line, or a command the firmware does not know.
        const bool refused = line == "UNKNOWN_COMMAND" || ContainsTextNoCase(line, "error");
        if (!refused && line != "OK") {
          if (!ContainsTextNoCase(line, key)) return;  // talk of other things
          // Its "OK" may come in a later read: it belongs to this line, not to the next.
          if (!Asked_.keyAtMs) Asked_.keyAtMs = NowMs();
          return ArmQuestionTimer();
        }
        PlainStepAnswered(refused ? &line : nullptr);
        return;
      }
      default:
        return;
    }
  });
}

void TBrekGSMDemoMainForm::PlainStepAnswered(const std::string* refusal) {
  const Question answered = Asked_;
  Answered();
  if (refusal) {
    PlainStepFailed(answered, "TBrekGSMDemoMainForm.NewString", "refused: \"" + *refusal + "\"");
    // The situation did not switch: the window shows again what the panel still has.
    if (answered.before && CurrentState == answered.shows) {
      CurrentState = *answered.before;
      ShowCurrentState();
    }
  } else if (answered.shows && answered.inFlight) {  // answered before the port said written: it arrived
    CurrentState = *answered.shows;
    ShowCurrentState();
  }
  AfterPlainStep(answered.step);
}

void TBrekGSMDemoMainForm::SerialNumberAnswered(const std::string& value) {
  if (LoadDemoPending || LoadFtdefPending) return RestartedPanelAnswered(value);
  const auto parsed = value != "NOT SET" ? TryStrToInt(value) : std::nullopt;
  const bool isNumber = parsed.has_value();
  const std::int32_t number = parsed.value_or(-1);
  bool usable = false;
  if (value != "NOT SET") {
    SerialNumber = -1;
    if (isNumber) {
      usable = true;
      SerialNumber = number;
      AccountNumber = static_cast<std::int32_t>(static_cast<std::uint32_t>(number) % 10000u);
      CurrentState = psConnected;
      PassedOverPort_ = -1;
    }
  }
  // An answer, not a silence: the same question gets the same answer.
  if (!usable && CurrentState == psWaitConnect)
    ReportUnusableAnswer("TBrekGSMDemoMainForm.NewString", "answered \"ZOLVA_SN=" + value + "\", no serial number");
  ShowCurrentState();
}

void TBrekGSMDemoMainForm::PlainStepFailed(const Question& question, const char* operation, const std::string& what) {
  WriteErrLog(std::string(operation) + ": COM" + std::to_string(ComPort ? ComPort->PortNumber() : -1) + ": \"" +
              question.command + "\": " + what);
}

void TBrekGSMDemoMainForm::AfterPlainStep(Step step) {
  if (step == Step::SetTamper)
    Ask(Step::SetTime, TimeCommand());
  else if (step == Step::SetTime)
    FinishCompletion();
}

void TBrekGSMDemoMainForm::ReportUnusableAnswer(const char* operation, const std::string& why) {
  if (UnusableReported_) return;
  UnusableReported_ = true;
  WriteErrLog(std::string(operation) + ": COM" + std::to_string(ComPort ? ComPort->PortNumber() : -1) + ": " + why +
              "; the port is kept open and nothing more is sent to it");
}

void TBrekGSMDemoMainForm::OnComPortOpen() {
  Guarded("TBrekGSMDemoMainForm.OnComPortOpen", [&] {
    // A line cut off by the last closing would otherwise start the first reply.
    InputLine.clear();
    InputLineLength = 0;
    LineOverlong_ = false;
    WrongPasswordAnswered_ = false;
    UnusableReported_ = false;
    ++Opening_;
    if (ComPort) OpenPortNumber = ComPort->PortNumber();
    OpenedAtMs_ = NowMs();
    LastByteAtMs_ = 0;
    AnswerTimeMs_ = 0;
    Consumed_ = 0;
    BytesSeen_ = ComPort ? ComPort->BytesArrived() : 0;
    StartMain();
  });
}

void TBrekGSMDemoMainForm::StartMain() {
  Guarded("TBrekGSMDemoMainForm.StartMain", [&] {
    LastCommand = "VERSION?";
    SendCommand("");
    Ask(Step::AskVersion, LastCommand);
  });
}

void TBrekGSMDemoMainForm::NextCommandFromList() {
  Guarded("TBrekGSMDemoMainForm.NextCommandFromList", [&] {
    if (SendCommandTimer) SendCommandTimer->SetEnabled(false);
    if (CommandsList && CommandsList->GetNextCommand(LastCommand, ReplyKey)) {
      ScriptSent_.emplace_back(UpperCase(LastCommand), UpperCase(ReplyKey));
      ArrivedAtSend_ = ComPort ? ComPort->BytesArrived() : 0;
      // The reply time-out runs while the question is open (a port that is not open asks
      // nothing: the link was let go of and the script ends with it).
      const bool asked = Ask(Step::ScriptCommand, LastCommand);
      ShowScriptProgress();
      if (asked && SendCommandTimer) SendCommandTimer->SetEnabled(true);
      return;
    }
    ScriptRunning = false;
    if (Asked_.step == Step::ScriptCommand) Asked_ = Question{};
  });
}

void TBrekGSMDemoMainForm::OnSendCommandTimer() {
  Guarded("TBrekGSMDemoMainForm.OnSendCommandTimer", [&] {
    if (!ScriptRunning) {
      SendCommandTimer->SetEnabled(false);
      return;
    }
    // Not one byte for a whole reply time-out: the panel is gone (its firmware wedged, a
    // cable that hangs up nothing), not slow. Sending it the rest of the script would only
    // go into the silence; it is opened again, which asks its version anew.
    if (PortOpen() && ComPort->BytesArrived() == ArrivedAtSend_) {
      WriteErrLog("TBrekGSMDemoMainForm.OnSendCommandTimer: COM" + std::to_string(ComPort->PortNumber()) +
                  " sent nothing in " + std::to_string(SendCommandTimer->Interval()) + " ms after \"" + LastCommand +
                  "\"; the port is closed and looked for again");
      LetGoOfPort();
      return;
    }
    NextCommandFromList();
  });
}

void TBrekGSMDemoMainForm::OnStartDemoButtonClick() {
  Guarded("TBrekGSMDemoMainForm.OnStartDemoButtonClick", [&] {
    if (HoldClick(W().StartDemoButton)) return;
    CommandsList->InitStartCmd();
    if (CommandsList->CommandCount() == 0) {
      ShowMessageBox(NoStartCommandsMessage(), MB_ICONERROR);
      Ui().CloseMainWindow();
      return;
    }
    CommandsList->InitAccount(static_cast<std::uint32_t>(AccountNumber));
    BeginScript();
    LoadDemoPending = true;
    LoadFtdefPending = false;
    CurrentState = psLoadDemo;
    ShowCurrentState();
    NextCommandFromList();
  });
}

void TBrekGSMDemoMainForm::OnEndDemoButtonClick() {
  Guarded("TBrekGSMDemoMainForm.OnEndDemoButtonClick", [&] {
    if (HoldClick(W().EndDemoButton)) return;
    CommandsList->InitEndCmd();
    if (CommandsList->CommandCount() == 0) return;
    BeginScript();
    LoadDemoPending = false;
    LoadFtdefPending = true;
    CurrentState = psLoadFtdef;
    ShowCurrentState();
    NextCommandFromList();
  });
}

void TBrekGSMDemoMainForm::SwitchSituation(const char* operation, const char* command, TProgrammState state) {
  Guarded(operation, [&] {
    TButton& button = state == psMoneyLittle ? W().MoneyLittleButton
                      : state == psMoneyOff  ? W().MoneyOffButton
                                             : W().MoneyFullButton;
    if (HoldClick(button)) return;
    const TProgrammState before = CurrentState;
    if (Ask(Step::Payment, command)) {
      Asked_.shows = state;  // shown once the panel has the line
      Asked_.before = before;
    }
  });
}

void TBrekGSMDemoMainForm::OnMoneyLittleButtonClick() {
  SwitchSituation("TBrekGSMDemoMainForm.OnMoneyLittleButtonClick", "ARM_ALLOWED=2", psMoneyLittle);
}

void TBrekGSMDemoMainForm::OnMoneyOffButtonClick() {
  SwitchSituation("TBrekGSMDemoMainForm.OnMoneyOffButtonClick", "ARM_ALLOWED=3", psMoneyOff);
}

void TBrekGSMDemoMainForm::OnMoneyFullButtonClick() {
  SwitchSituation("TBrekGSMDemoMainForm.OnMoneyFullButtonClick", "ARM_ALLOWED=0", psMoneyFull);
}

void TBrekGSMDemoMainForm::BeginScript() {
  ScriptSent_.clear();
  ScriptLength_ = CommandsList->CommandsLeft();
  ScriptStartedAtMs_ = NowMs();
  W().ScriptProgressBar.Hide();
  ScriptRunning = true;
}

void TBrekGSMDemoMainForm::DropScript(const char* operation, const std::string& why) {
  if (!ScriptRunning && !LoadDemoPending && !LoadFtdefPending) return;
  if (SendCommandTimer) SendCommandTimer->SetEnabled(false);
  if (CommandsList) {
    std::string command, key;
    while (CommandsList->GetNextCommand(command, key)) {
    }
  }
  WriteErrLog(std::string(operation) + ": the " + (LoadFtdefPending ? "factory settings" : "demo settings") +
              " script " + why);
  ScriptRunning = false;
  LoadDemoPending = false;
  LoadFtdefPending = false;
  EndRestartWait();
  ShowScriptDropped();
  // Never shown as written: the window leaves its loading state.
  if (CurrentState == psLoadDemo || CurrentState == psLoadFtdef) CurrentState = psWaitConnect;
}

}  // namespace brek
