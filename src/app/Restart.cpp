// The restart after a script's "reset" (DialogueSteps.h): the panel finishes its work, drops
// off USB and comes back. Its port is opened again only once the panel was seen gone (a
// removal, a hang-up, its port missing from a listing, or its device made anew between two
// listings), or by the clock alone after 20 s: a panel still on USB after "reset" would get
// the completion and then drop off. Not back within 60 s, the window leaves loading; the
// same panel back within 5 min is still completed. Only the panel that got the script is.
#include <algorithm>
#include <utility>

#include "app/BrekGSMDemoMain.h"
#include "common/CommonUtils.h"
#include "common/Guard.h"
#include "common/Text.h"
#include "serial/ComPortKX.h"
#include "serial/SerialDevices.h"

namespace brek {
namespace {
constexpr unsigned kRestartGuardMs = 20000;
constexpr unsigned kRestartLimitMs = 60000;
constexpr unsigned kLateCompletionMs = 300000;
// A completion under way when the 5 min are up is looked at again this much later: its
// own waits end it by then.
constexpr unsigned kCompletionRecheckMs = 10000;
}  // namespace

void TBrekGSMDemoMainForm::ResetWritten() {
  // The script is written; what is left is the panel's restart and the completion.
  ScriptRunning = false;
  BeginRestart();
  ShowScriptProgress();
}

void TBrekGSMDemoMainForm::AwaitResetOnLetGo(bool gone) {
  // A removal notice can come before the word that "reset" was written: that word decides
  // whether the panel restarts or the script was cut. It comes within the write's 2 s, the
  // closing being asked after it; nothing is opened meanwhile. Also when the reply to
  // "reset" already ended the script.
  if (!ScriptRunning && !LoadDemoPending && !LoadFtdefPending) return;
  for (const auto& [block, text] : Sent_)
    if (SameText(text, "RESET")) AwaitedReset_ = block;
  if (AwaitedReset_ && gone) AwaitedResetGone_ = true;
}

void TBrekGSMDemoMainForm::AwaitedResetWritten(bool whole) {
  AwaitedReset_ = 0;
  if (whole) {
    ResetWritten();
    if (CheckPortsTimer) CheckPortsTimer->SetEnabled(true);
    return;
  }
  AwaitedResetGone_ = false;
  DropScript("TBrekGSMDemoMainForm.OnConnectButtonClick", "was interrupted by a disconnect and dropped");
  SetStartState();
}

void TBrekGSMDemoMainForm::BeginRestart() {
  Restart_ = RestartWait{};
  Restart_.waiting = true;
  Restart_.seenGone = std::exchange(AwaitedResetGone_, false);
  Restart_.serial = SerialNumber;
  Restart_.port = ComPort ? ComPort->PortNumber() : -1;
  Restart_.plugging = Context_.devices ? Context_.devices->DevicePlugging(Restart_.port) : 0;
  Restart_.resetAtMs = NowMs();
  if (!RestartTimer) return;
  RestartTimer->SetEnabled(false);
  RestartTimer->SetInterval(kRestartGuardMs);
  RestartTimer->SetEnabled(true);
}

void TBrekGSMDemoMainForm::EndRestartWait() {
  Restart_ = RestartWait{};
  if (RestartTimer) RestartTimer->SetEnabled(false);
}

bool TBrekGSMDemoMainForm::ReopenAllowed() const {
  if (AwaitedReset_) return false;  // whether the panel restarts is not known yet
  return !Restart_.waiting || Restart_.back || Restart_.seenGone || Restart_.guardPassed;
}

void TBrekGSMDemoMainForm::CheckRestartSeenGone() {
  if (!Restart_.waiting || Restart_.seenGone || !PanelNamesListed_) return;
  const bool listed = std::any_of(PortList.begin(), PortList.end(), [&](const auto& rec) {
    return rec->Number == Restart_.port && !rec->DeviceName.empty();
  });
  // Gone and back between two listings (its notices lost): another plugging of the device.
  if (!listed || (Context_.devices && Context_.devices->DevicePlugging(Restart_.port) != Restart_.plugging))
    Restart_.seenGone = true;
}

void TBrekGSMDemoMainForm::OnRestartTimer() {
  Guarded("TBrekGSMDemoMainForm.OnRestartTimer", [&] {
    RestartTimer->SetEnabled(false);
    if (!Restart_.waiting) return;
    auto again = [&](unsigned ms) {
      RestartTimer->SetInterval(ms);
      RestartTimer->SetEnabled(true);
    };
    const bool completing = Restart_.back && DeviceReady;  // its own waits end it
    if (!Restart_.guardPassed) {
      Restart_.guardPassed = true;
      again(kRestartLimitMs - kRestartGuardMs);
      RefreshComPorts(true);
      return;
    }
    if (!Restart_.expired) {
      Restart_.expired = true;
      again(kLateCompletionMs - kRestartLimitMs);
      if (!completing)
        LeaveLoading("TBrekGSMDemoMainForm.OnRestartTimer",
                     "was not completed: the panel did not come back within " + std::to_string(kRestartLimitMs) +
                         " ms of \"reset\"");
      return;
    }
    if (completing) return again(kCompletionRecheckMs);
    // No longer awaited: the next panel is a connection of its own.
    LoadDemoPending = false;
    LoadFtdefPending = false;
    EndRestartWait();
    if (!DeviceReady) SetStartState();
  });
}

void TBrekGSMDemoMainForm::LeaveLoading(const char* operation, const std::string& why) {
  if (Restart_.late) return;  // said once
  Restart_.late = true;
  WriteErrLog(std::string(operation) + ": the " + (LoadFtdefPending ? "factory settings" : "demo settings") +
              " script " + why);
  ShowScriptDropped();
  if (CurrentState == psLoadDemo || CurrentState == psLoadFtdef) CurrentState = psWaitConnect;
  ShowCurrentState();
}

void TBrekGSMDemoMainForm::RestartedPanelAnswered(const std::string& value) {
  const auto number = value != "NOT SET" ? TryStrToInt(value) : std::nullopt;
  // A panel that tells no number is the one that got the script only if that one told none.
  const bool same = number ? *number == Restart_.serial : value == "NOT SET" && Restart_.serial == -1;
  if (same) {
    if (number) {
      SerialNumber = *number;
      AccountNumber = static_cast<std::int32_t>(static_cast<std::uint32_t>(*number) % 10000u);
    }
    if (LoadDemoPending)
      Ask(Step::SetTamper, "ARM_IGNORE_TAMPER=1");
    else
      FinishCompletion();
    return;
  }
  if (Restart_.late) {
    // Already said not completed: the other panel is simply connected.
    LoadDemoPending = false;
    LoadFtdefPending = false;
    EndRestartWait();
  } else {
    DropScript("TBrekGSMDemoMainForm.NewString", "was not completed: the panel back after \"reset\" answered \"ZOLVA_SN=" +
                                                     value + "\", not the serial number " +
                                                     std::to_string(Restart_.serial) + " of the panel that got it");
  }
  // Connected as itself, as any other panel: its version checked, its password and serial
  // number asked.
  SerialNumber = -1;
  AccountNumber = 0;
  CheckConnectedDevice();
  ShowCurrentState();
}

void TBrekGSMDemoMainForm::FinishCompletion() {
  if (LoadDemoPending) CurrentState = psDemoLoaded;
  if (LoadFtdefPending) CurrentState = psConnected;
  LoadDemoPending = false;
  LoadFtdefPending = false;
  EndRestartWait();
  ShowCurrentState();
}

}  // namespace brek
