// The receive path: arbitrary bytes from the panel, split into arbitrary data events, in
// every mode of the dialogue (before the version reply, waiting for the password or the
// serial number, writing a script, connected), through the real ring and its wrap.
#include <cstdio>
#include <filesystem>
#include <memory>

#include "FakeSerialDevices.h"
#include "FuzzInput.h"
#include "VirtualPanel.h"
#include "app/BrekGSMDemoMain.h"
#include "common/CommonUtils.h"
#include "support/VirtualToolkit.h"

using namespace brek;

namespace {

const std::string& Folder() {
  static const std::string folder = [] {
    auto dir = std::filesystem::temp_directory_path() / "brek-fuzz-receive";
    std::filesystem::create_directories(dir);
    return dir.string();
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  SetErrorLogFileName(Folder() + "/ErrorLog.log");
  std::filesystem::remove(Folder() + "/ErrorLog.log");
  test::VirtualToolkit ui;
  sim::FakeSerialDevices devices(ui);
  sim::PanelConfig config;
  const std::uint8_t mode = in.Byte() % 5;
  if (mode == 1) config.password = sim::PasswordMode::Wrong;
  if (mode == 2) config.scriptReply = sim::ScriptReply::Silence;
  sim::VirtualPanel panel(ui, devices, config);
  panel.Plug(false);
  MainWindowControls window;
  {
    TBrekGSMDemoMainForm form(FormContext{&ui, &window, Folder() + "/BrekGSMDemo", &devices});
    // Bring the dialogue to its mode: 0 right after the port opened, 1-4 further on.
    ui.Advance(mode == 0 ? 1 : 300);
    if (mode == 2 || mode == 3) window.StartDemoButton.Click();
    if (mode == 3) ui.Advance(20);
    while (!in.Empty()) {
      const std::size_t length = in.Word() % 40000;
      panel.Send(in.Bytes(length));
      ui.Advance(in.Byte() % 70);  // one or more data events, or several sends in one
    }
    ui.Advance(70000);  // every time-out of the dialogue
  }
  SetErrorLogFileName("");
  return 0;
}
