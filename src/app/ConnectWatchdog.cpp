// The way out of every wait of the connection. A panel's USB side appears before its
// firmware reads, and a line can be lost: each question of the connection (the version,
// the password, the serial number) is asked again after a silence, on a widening
// schedule, and a panel that gives no usable answer within the bound is let go of, so
// that the search opens it again (which also toggles DTR and clears a wedged line). A
// panel that answers is asked once: its transcript is unchanged.
#include <algorithm>

#include "app/BrekGSMDemoMain.h"
#include "common/CommonUtils.h"
#include "common/Guard.h"
#include "serial/ComPortKX.h"

namespace brek {
namespace {
// A panel that reads answers within milliseconds; one still starting takes longer.
constexpr unsigned kAskAgainAfterMs = 1000;
// Asked at 1, 3 and 7 s; let go of at 10 s.
constexpr unsigned kGiveUpAfterMs = 10000;
}  // namespace

void TBrekGSMDemoMainForm::AwaitStep(ConnectStep step) {
  AwaitedStep_ = step;
  StepWaitedMs_ = 0;
  if (!ConnectWatchdogTimer) return;
  ConnectWatchdogTimer->SetEnabled(false);
  if (step == ConnectStep::None) return;
  ConnectWatchdogTimer->SetInterval(kAskAgainAfterMs);
  ConnectWatchdogTimer->SetEnabled(true);
}

void TBrekGSMDemoMainForm::OnConnectWatchdogTimer() {
  Guarded("TBrekGSMDemoMainForm.OnConnectWatchdogTimer", [&] {
    const unsigned interval = ConnectWatchdogTimer->Interval();
    ConnectWatchdogTimer->SetEnabled(false);
    if (AwaitedStep_ == ConnectStep::None || !PortOpen()) {
      AwaitedStep_ = ConnectStep::None;
      return;
    }
    StepWaitedMs_ += interval;
    if (StepWaitedMs_ >= kGiveUpAfterMs) {
      GiveUpOnPort();
      return;
    }
    AskStepAgain();
    if (AwaitedStep_ == ConnectStep::None) return;  // the asking closed the port
    ConnectWatchdogTimer->SetInterval(std::min(interval * 2, kGiveUpAfterMs - StepWaitedMs_));
    ConnectWatchdogTimer->SetEnabled(true);
  });
}

void TBrekGSMDemoMainForm::AskStepAgain() {
  switch (AwaitedStep_) {
    case ConnectStep::Version:
      StartMain();
      break;
    case ConnectStep::Password:
      if (!OneShotTimers_.empty()) break;  // the first asking is still due
      LastCommand = AuthCommand();
      SendCommand(LastCommand);
      break;
    case ConnectStep::Serial:
      LastCommand = "ZOLVA_SN?";
      SendCommand(LastCommand);
      break;
    case ConnectStep::None:
      break;
  }
}

void TBrekGSMDemoMainForm::GiveUpOnPort() {
  const std::int32_t number = ComPort ? ComPort->PortNumber() : -1;
  WriteErrLog("TBrekGSMDemoMainForm.OnConnectWatchdogTimer: COM" + std::to_string(number) +
              " gave no usable answer to \"" + LastCommand + "\" in " + std::to_string(kGiveUpAfterMs) +
              " ms; the port is closed and looked for again");
  PassedOverPort_ = number;
  LetGoOfPort();
}

void TBrekGSMDemoMainForm::ReleaseOneShotTimers() {
  // A tick after the port closed would send to, or report on, a panel that is gone.
  OneShotTimers_.clear();
}

void TBrekGSMDemoMainForm::ClosePort() {
  AwaitStep(ConnectStep::None);
  ReleaseOneShotTimers();
  if (!ComPort) return;
  if (ComPort->Active()) {
    // The closing empties the ring: the traffic log still gets every line received.
    const std::uint8_t* ring = ComPort->InpBuf();
    const std::int32_t size = ComPort->InpBufSize();
    std::int32_t at = ComPort->StartInInpBuf();
    std::vector<std::uint8_t> line(InputLine);
    for (std::int32_t left = ComPort->ReceivedBytes(); ring && size > 0 && left > 0; --left) {
      const std::uint8_t byte = ring[at];
      at = at + 1 < size ? at + 1 : 0;
      line.push_back(byte);
      if (byte != 0x0D) continue;
      AddInpControllerLog(Bytes2String(line.data(), line.size()));
      line.clear();
    }
  }
  ComPort->SetActive(false);
  ReleaseTrafficLog();
}

}  // namespace brek
