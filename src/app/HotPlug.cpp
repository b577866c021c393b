// Port discovery and hot-plug: the panel's port is the COM port whose friendly name
// belongs to the panel's USB device and that can be opened; device notices and a 5000 ms
// check find it, a removal lets go of it.
#include <algorithm>
#include <cstring>

#include "app/BrekGSMDemoMain.h"
#include "common/CommonUtils.h"
#include "common/Cp1251.h"
#include "common/Exceptions.h"
#include "common/Guard.h"
#include "common/Text.h"
#include "serial/ComPortKX.h"
#include "serial/NextToken.h"
#include "serial/SerialDevices.h"

namespace brek {
namespace {
constexpr std::uint32_t kFirstNameBufferSize = 65535;
constexpr std::uint32_t kNameBufferGrowth = 1024;
// A device list that keeps asking for more than this is refused, not followed for ever.
constexpr std::uint32_t kNameBufferLimit = 16u << 20;
constexpr std::size_t kFriendlyNameSize = 257;
constexpr std::int32_t kConnectBaudRate = 115200;
constexpr std::int32_t kPortRingSize = 32768;
}  // namespace

void TBrekGSMDemoMainForm::CreateRegister() {
  Guarded("TBrekGSMDemoMainForm.CreateRegister", [&] {
    if (Context_.devices)
      Context_.devices->RegisterDeviceNotification([this](const DeviceChangeMessage& m) { OnDeviceChange(m); });
  });
}

void TBrekGSMDemoMainForm::SetPortDefault() {
  Guarded("TBrekGSMDemoMainForm.SetPortDefault", [&] {
    if (ComPort) return;
    try {
      ComPort = std::make_unique<TComPortKX>(Ui());
      ComPort->SetPortNumber(1);
      ComPort->SetBaudRate(kConnectBaudRate);
      ComPort->SetByteSize(8);
      ComPort->SetStopBits(0);
      ComPort->SetParity(0);
      ComPort->SetInpBufSize(kPortRingSize);
      ComPort->OnOpen = [this](TComPortKX*) { OnComPortOpen(); };
      ComPort->OnReceiveData = [this](TComPortKX*) { OnComPortReceiveData(); };
      ComPort->OnDeviceGone = [this](TComPortKX*) { OnComPortGone(); };
      ComPort->OnWritten = [this](TComPortKX*, std::uint64_t block, TWritten outcome) { OnComPortWritten(block, outcome); };
    } catch (const std::exception&) {
      ComPort.reset();
      WriteErrLog("TBrekGSMDemoMainForm.SetPortDefault: Initialization of CommDrv failed");
      Ui().CloseMainWindow();
    }
  });
}

void TBrekGSMDemoMainForm::DestroyPort() {
  if (!ComPort) return;
  ClosePort();  // the lines still in the ring reach the traffic log
  ComPort.reset();
}

bool TBrekGSMDemoMainForm::PortOpen() const { return ComPort && ComPort->Open(); }

bool TBrekGSMDemoMainForm::PortOpening() const {
  return ComPort && ComPort->Active() && ComPort->Status() == kStatusOpening;
}

void TBrekGSMDemoMainForm::OnDeviceChange(const DeviceChangeMessage& message) {
  Guarded("TBrekGSMDemoMainForm.OnDeviceChange", [&] {
    if (message.deviceType != DBT_DEVTYP_DEVICEINTERFACE) return;
    if (message.event == DBT_DEVICEARRIVAL)
      RefreshComPorts(true);
    else if (message.event == DBT_DEVICEREMOVECOMPLETE)
      RefreshComPorts(false);
  });
}

void TBrekGSMDemoMainForm::OnCheckPortsTimer() {
  // Also while a port is held: a notice is a hint that can be lost (udev restarted, a
  // suspend, a message the window never got), the listing is the fact. The port in use is
  // only looked for in the list, never probed.
  Guarded("TBrekGSMDemoMainForm.OnCheckPortsTimer", [&] { RefreshComPorts(true); });
}

void TBrekGSMDemoMainForm::OnComPortGone() {
  Guarded("TBrekGSMDemoMainForm.OnComPortGone", [&] {
    if (!PortOpen()) return;  // its removal notice came first
    LetGoOfPort(true);
  });
}

void TBrekGSMDemoMainForm::LetGoOfPort(bool gone) {
  AwaitResetOnLetGo(gone);
  const bool scriptCut = ScriptRunning && AwaitedReset_ == 0;  // "reset" ends the script before it lets go
  ClosePort();
  Restart_.back = false;  // a panel lost during the completion is waited for again
  DeviceReady = false;
  ScriptRunning = false;
  OpenPortNumber = -1;
  if (scriptCut)
    DropScript("TBrekGSMDemoMainForm.OnConnectButtonClick", "was interrupted by a disconnect and dropped");
  else if (Restart_.expired)
    LeaveLoading("TBrekGSMDemoMainForm.OnConnectButtonClick",
                 "was not completed: the panel was lost again after the restart, 60000 ms after \"reset\"");
  // With a restart under way the state waits for the panel's return.
  if (!LoadDemoPending && !LoadFtdefPending) SetStartState();
  if (CheckPortsTimer) CheckPortsTimer->SetEnabled(true);  // the search goes on
}

void TBrekGSMDemoMainForm::RefreshComPorts(bool connect) {
  Guarded("TBrekGSMDemoMainForm.RefreshComPorts", [&] {
    if (CheckPortsTimer) CheckPortsTimer->SetEnabled(false);
    // A removal notice between an arrival and its probe's answers does not cancel the arrival.
    ConnectAfterProbe_ = ConnectAfterProbe_ || connect;
    FillComPortsList();  // lets go of the port in use when it is no longer listed
    // A removal lets go of the port in use only through a listing that lacks it: one that
    // failed proves nothing (a lost panel also fails its next write, or hangs up). The
    // ports still being probed are not candidates yet: their probe connects.
    if (connect && !PortOpen() && !PortOpening() && GetTestedPortNumber() != -1) OnConnectButtonClick();
    // Notices of other devices are common, an opening can fail once (a port held for a
    // moment) and a removal notice can be lost: the check never stops.
    if (CheckPortsTimer) CheckPortsTimer->SetEnabled(true);
  });
}

void TBrekGSMDemoMainForm::ClearPortList() {
  Guarded("TBrekGSMDemoMainForm.ClearPortList", [&] {
    while (!PortList.empty()) PortList.erase(PortList.begin());
  });
}

void TBrekGSMDemoMainForm::FillComPortsList() {
  Guarded("TBrekGSMDemoMainForm.FillComPortsList", [&] {
    ClearPortList();
    PanelNamesListed_ = false;
    if (!Context_.devices) return;
    std::uint32_t size = kFirstNameBufferSize;
    std::uint32_t n = 0;
    std::vector<char>& buffer = NameBuffer_;  // kept: a refresh follows every device notice
    do {
      buffer.resize(size);  // only the n characters the list reports are read
      std::uint32_t error = 0;
      n = Context_.devices->QueryDosDevice(buffer.data(), size, error);
      if (error == ERROR_INSUFFICIENT_BUFFER) {
        size = (n != 0 ? n : size) + kNameBufferGrowth;
        n = 0;
        if (size > kNameBufferLimit) throw EOSError("The device-name list does not fit in 16 MiB");
      } else if (error != 0) {
        throw EOSError(Context_.devices->SystemErrorText(error));
      } else if (n == 0) {
        break;  // no device names at all: an empty list (asking again would never end)
      }
    } while (n == 0);
    const std::string text(buffer.data(), std::min<std::size_t>(n, buffer.size()));
    if (buffer.size() > kFirstNameBufferSize) std::vector<char>().swap(buffer);  // a grown one is not kept
    std::int32_t position = 1;
    for (;;) {
      std::string name;
      NextToken(text, position, name);
      if (name.empty()) break;
      if (name.rfind("COM", 0) != 0) continue;
      const auto number = TryStrToInt(std::string_view(name).substr(3));
      if (!number) continue;
      auto rec = std::make_unique<TPortRec>();
      rec->Number = *number;
      rec->DosName = name;
      PortList.push_back(std::move(rec));
    }
    FillFriendlyNames();
    CheckComPortsEnabled();
  });
}

void TBrekGSMDemoMainForm::FillFriendlyNames() {
  Guarded("TBrekGSMDemoMainForm.FillFriendlyNames", [&] {
    std::vector<std::string> set;
    PanelNamesListed_ = false;
    if (!Context_.devices ||
        !Context_.devices->GetClassDevs(kPanelInstanceId, DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_DEVICEINTERFACE, set))
      return;
    PanelNamesListed_ = true;
    for (std::size_t i = 0; i < set.size(); ++i) {
      const std::string name = GetDeviceName(set, i);
      const auto q = name.find("(COM");
      if (q == std::string::npos) continue;
      // From after "(" up to, not including, the last character: "COM7" of "(COM7)".
      const std::string inner = name.size() - 1 > q + 1 ? name.substr(q + 1, name.size() - 1 - (q + 1)) : std::string();
      const std::int32_t number = inner.size() > 3 ? StrToIntDef(std::string_view(inner).substr(3), -1) : -1;
      if (number == -1) continue;
      for (auto& rec : PortList)
        if (rec->Number == number) {
          rec->DeviceName = kDeviceWord;
          break;
        }
    }
  });
}

std::string TBrekGSMDemoMainForm::GetDeviceName(const std::vector<std::string>& set, std::size_t index) {
  std::string result;
  Guarded("TBrekGSMDemoMainForm.GetDeviceName", [&] {
    char buffer[kFriendlyNameSize] = {};
    Context_.devices->GetFriendlyName(set, index, buffer, sizeof buffer);
    result.assign(buffer, strnlen(buffer, sizeof buffer));
  });
  return result;
}

void TBrekGSMDemoMainForm::CheckComPortsEnabled() {
  Guarded("TBrekGSMDemoMainForm.CheckComPortsEnabled", [&] {
    // The port in use is ours: probing it would only find it held. It is let go of when it
    // is no longer listed as the panel's (not when the names could not be had at all).
    std::int32_t inUse = PortInUse();
    bool found = false;
    for (auto& rec : PortList)
      if (rec->Number == inUse) {
        rec->Enabled = true;
        found = !rec->DeviceName.empty();
      }
    if (inUse != -1 && !found && PanelNamesListed_) {
      LetGoOfPort(true);
      inUse = -1;
    }
    CheckRestartSeenGone();
    std::vector<std::int32_t> probe;
    for (auto& rec : PortList) {
      if (rec->Number == inUse) continue;
      // Only the panel's ports are ever used: opening another raises its DTR and RTS (a
      // board resets, a modem hangs up) or blocks (a radio port that dials out). Nor is
      // another panel's port opened every 5 s while one is in use. One that a modem
      // manager may still probe is left to it first: its commands would cut into ours.
      rec->Enabled = false;
      if (rec->DeviceName.empty() || inUse != -1 || Context_.devices->AwaitsOtherProgram(rec->Number)) continue;
      probe.push_back(rec->Number);
    }
    if (probe.empty()) HeldPortReported_ = false;
    if (probe.empty() && !ProbeOut_) ConnectAfterProbe_ = false;  // no answers to connect on
    ProbeNext_ = std::move(probe);
    ProbeNextPorts();
  });
}

std::int32_t TBrekGSMDemoMainForm::PortInUse() const {
  return PortOpen() || PortOpening() ? ComPort->PortNumber() : DeviceReady ? OpenPortNumber : -1;
}

void TBrekGSMDemoMainForm::ProbeNextPorts() {
  // A device that hangs holds its opening for seconds: probed on the port's thread. Nothing
  // is probed while a port is in use (its own would only be found held).
  if (ProbeOut_ || ProbeNext_.empty() || !ComPort || PortInUse() != -1) return;
  ProbeOut_ = true;
  std::vector<std::int32_t> probed;
  probed.swap(ProbeNext_);
  ComPort->Probe(probed, [this, probed](const std::vector<TProbe>& answers) { OnPortsProbed(probed, answers); });
}

void TBrekGSMDemoMainForm::OnPortsProbed(const std::vector<std::int32_t>& numbers, const std::vector<TProbe>& answers) {
  Guarded("TBrekGSMDemoMainForm.CheckComPortsEnabled", [&] {
    ProbeOut_ = false;
    const bool connect = ConnectAfterProbe_;
    if (ProbeNext_.empty()) ConnectAfterProbe_ = false;  // else the next probe's answers connect
    if (PortInUse() != -1) return;
    bool held = false;
    for (std::size_t i = 0; i < numbers.size() && i < answers.size(); ++i) {
      // The answers go to the ports as listed now (a later listing may have come meanwhile).
      for (auto& rec : PortList)
        if (rec->Number == numbers[i] && !rec->DeviceName.empty() && !Context_.devices->AwaitsOtherProgram(rec->Number))
          rec->Enabled = answers[i] == TProbe::Free;
      if (answers[i] != TProbe::Held || held) continue;
      const PortClaim claim = Context_.devices->ClaimOn(numbers[i]);
      held = claim.held;
      if (held && !HeldPortReported_)  // once while it is held, not at every check
        WriteErrLog("TBrekGSMDemoMainForm.CheckComPortsEnabled: the panel's port " + claim.device +
                    " is held by another program; it is opened once free" +
                    (claim.advice.empty() ? "" : "; " + claim.advice));
    }
    HeldPortReported_ = held;
    if (connect && GetTestedPortNumber() != -1) OnConnectButtonClick();
  });
  ProbeNextPorts();
}

std::int32_t TBrekGSMDemoMainForm::GetTestedPortNumber() {
  std::int32_t result = -1;
  Guarded("TBrekGSMDemoMainForm.GetTestedPortNumber", [&] {
    if (!ReopenAllowed()) return;
    for (const auto& rec : PortList)
      if (ContainsTextNoCase(rec->DeviceName, kDeviceWord) && rec->Enabled) {
        // A port let go of for giving no usable answer comes after any other panel's.
        if (rec->Number == PassedOverPort_) {
          if (result == -1) result = rec->Number;
          continue;
        }
        result = rec->Number;
        return;
      }
  });
  return result;
}

void TBrekGSMDemoMainForm::OnConnectButtonClick() {
  Guarded("TBrekGSMDemoMainForm.OnConnectButtonClick", [&] {
    if (DeviceReady) {
      LetGoOfPort();
      return;
    }
    if (PortOpening()) return;  // its outcome is still to come
    const std::int32_t n = GetTestedPortNumber();
    if (n == -1 || !ComPort) return;
    try {
      if (ComPort->Active()) ClosePort();
      ComPort->SetPortNumber(n);
      ComPort->SetBaudRate(kConnectBaudRate);
      ComPort->SetActive(true);  // OnComPortOpen when it opened
    } catch (const std::exception&) {
      ClosePort();
      RefreshComPorts(true);
    }
  });
}

}  // namespace brek
