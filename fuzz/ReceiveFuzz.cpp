// The receive path: arbitrary bytes from the panel, split into arbitrary data events, in
// every mode of the dialogue (before the version reply, waiting for the password or the
// serial number, writing a script, connected), through the real ring and its wrap (a
// connected input may start a few bytes short of the ring's end).
//
// One program serves every input, so the work per input is the dialogue's, not a program's
// start-up. Each input starts from one of two states, reached the same way every time:
// "opened" (a panel plugged in a moment ago) or "connected" (answered version, password
// and serial number, nothing under way). A program found connected after an input is kept
// when it matches the state of its first connection field by field; otherwise its panel is
// pulled out and a new one plugged in, and a program that then does not wait as it did
// when it started is made anew.
#include <cstdio>
#include <memory>
#include <optional>

#include "FakeSerialDevices.h"
#include "FuzzInput.h"
#include "VirtualPanel.h"
#include "app/BrekGSMDemoMain.h"
#include "common/CommonUtils.h"
#include "common/Text.h"
#include "scripts/Resources.h"
#include "serial/ComPortKX.h"
#include "support/VirtualToolkit.h"

using namespace brek;

namespace {

const std::string& Folder() {
  static const std::string folder = fuzz::ScratchFolder("brek-fuzz-receive");
  return folder;
}

// A start script with a command of every kind the dialogue treats apart (the echo of an
// empty line, keys repeated, the account, the save and the restart), short enough that a
// whole write fits each input.
const char* const kStartScript =
    "ftdef\r\n\r\nACCOUNT=\"\"\r\nZONE_ENABLED=0,1\r\nZONE_ENABLED=3,1\r\nSTATEMAP=0,0,2\r\n"
    "PART_ENABLED=0,1\r\nPART_ZONES=0=0,0,0,1\r\n\r\nsettings_save\r\nreset\r\n";

// What decides how the dialogue goes on from "connected".
struct Connected {
  bool ready;
  TProgrammState state;
  bool idle;
  std::int32_t port, serial, account;
  bool password;
  std::string firmware, lastCommand, replyKey;
  bool operator==(const Connected&) const = default;
};

struct Program {
  test::VirtualToolkit ui;
  sim::FakeSerialDevices devices{ui};
  MainWindowControls window;
  std::unique_ptr<TBrekGSMDemoMainForm> form;
  std::unique_ptr<sim::VirtualPanel> panel;
  std::optional<Connected> firstConnection;

  Connected Now() const {
    const TBrekGSMDemoMainForm& f = *form;
    const bool idle = !f.ScriptRunning && !f.LoadDemoPending && !f.LoadFtdefPending && f.InputLine.empty() &&
                      f.InputLineLength == 0 && f.ComPort && f.ComPort->Active() && f.ComPort->ReceivedBytes() == 0 &&
                      ui.messageBoxes.empty() && panel && panel->Present() &&
                      panel->Model().Config().scriptReply == sim::ScriptReply::Ok &&
                      panel->Model().Transcript().size() < 10000;  // a panel's memory is renewed now and then
    return {f.DeviceReady, f.CurrentState, idle, f.OpenPortNumber, f.SerialNumber, f.AccountNumber,
            f.UsePassword, f.FirmwareVersion, f.LastCommand, f.ReplyKey};
  }

  // Waiting for a panel with nothing left over from the last one.
  bool Waiting() const {
    const TBrekGSMDemoMainForm& f = *form;
    return f.CurrentState == psWaitConnect && !f.DeviceReady && !f.ScriptRunning && !f.LoadDemoPending &&
           !f.LoadFtdefPending && !f.UsePassword && f.SerialNumber == -1 && f.AccountNumber == 0 &&
           !(f.ComPort && f.ComPort->Active());
  }

  void Unplug() {
    if (!panel) return;
    if (panel->Present()) panel->Unplug();
    ui.Advance(1);
    panel.reset();
    ui.Advance(1);
    ui.messageBoxes.clear();
  }

  // A new panel plugged into a program that waits as it did when it started.
  void Opened(const sim::PanelConfig& config) {
    Unplug();
    if (!form || !Waiting()) {
      form.reset();
      window = MainWindowControls();
      form = std::make_unique<TBrekGSMDemoMainForm>(FormContext{&ui, &window, Folder() + "/BrekGSMDemo", &devices});
      ui.Advance(300);  // its start-up: nothing to find yet
    }
    panel = std::make_unique<sim::VirtualPanel>(ui, devices, config);
    panel->Plug();
  }

  void Connect() {
    if (form && firstConnection && Now() == *firstConnection) return EmptyRing();
    Opened({});
    ui.Advance(300);
    EmptyRing();
    if (!firstConnection) firstConnection = Now();
  }

  // The ring empty and from its start, whether the program was kept or made anew. What
  // the last reply leaves is the LF after its CR, which the next line loses anyway as
  // leading white space.
  void EmptyRing() {
    if (!form->ComPort) return;
    TComPortKX& port = *form->ComPort;
    const std::int32_t left = port.ReceivedBytes();
    for (std::int32_t i = 0; i < left; ++i) {
      const std::uint8_t byte = port.InpBuf()[(port.StartInInpBuf() + i) % port.InpBufSize()];
      if (byte != '\n' && byte != ' ') return;
    }
    port.SetInpBufRead(true);
    port.TakeBytes(left);
    port.RestartAtRingStart();
    port.SetInpBufRead(false);
  }
};

Program& TheProgram() {
  static Program program;
  return program;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetResourceLookup([](std::string_view name, std::string_view type) -> std::optional<std::string> {
    if (SameText(name, kStartScriptResource)) return std::string(kStartScript);
    return LoadOwnModuleResource(name, type);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  SetErrorLogFileName(fuzz::ErrorLogIn(Folder()));
  Program& program = TheProgram();
  test::VirtualToolkit& ui = program.ui;
  // Records for tests: kept, they grew by every input's waits and port listings.
  ui.sleeps.clear();
  ui.processingWaits.clear();
  program.devices.queryBufferSizes.clear();
  // 0 right after the port opened, 1 with a panel that refuses the password, 2 and 3
  // writing the script to a silent and to an answering panel, 4 connected.
  const std::uint8_t first = in.Byte();
  const std::uint8_t mode = first % 5;
  if (mode <= 1) {
    sim::PanelConfig config;
    if (mode == 1) config.password = sim::PasswordMode::Wrong;
    program.Opened(config);
    ui.Advance(mode == 0 ? 1 : 300);
  } else {
    program.Connect();
    // In half the inputs a line the connected program ignores fills the ring to a few
    // bytes short of its end, so that a short input wraps it.
    if (program.form->ComPort && (first / 5) % 2 == 1) {
      const std::size_t left = 1 + first / 10;
      const auto size = static_cast<std::size_t>(program.form->ComPort->InpBufSize());
      program.panel->Send(std::string(size - left - 1, '.') + '\r');
      ui.Advance(20);
    }
    if (mode == 2) program.panel->Model().Config().scriptReply = sim::ScriptReply::Silence;
    if (mode == 2 || mode == 3) program.window.StartDemoButton.Click();
    if (mode == 3) ui.Advance(20);
  }
  sim::VirtualPanel& panel = *program.panel;
  while (!in.Empty()) {
    const std::size_t length = in.Word() % 40000;
    panel.Send(in.Bytes(length));
    ui.Advance(in.Byte() % 70);  // one or more data events, or several sends in one
  }
  ui.Advance(70000);  // every time-out of the dialogue
  SetErrorLogFileName("");
  return 0;
}
