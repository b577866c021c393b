#pragma once
// The controller against the simulated panel, everything in virtual time.
#include <algorithm>
#include <memory>
#include <optional>

#include "FakeSerialDevices.h"
#include "VirtualPanel.h"
#include "app/BrekGSMDemoMain.h"
#include "scripts/CommandsList.h"
#include "serial/ComPortKX.h"
#include "support/TestSupport.h"
#include "support/VirtualToolkit.h"

namespace brek::test {

class DialogueFixture : public Sandbox {
 protected:
  void TearDown() override {
    if (panel) {
      EXPECT_EQ(panel->Model().FramingErrors(), std::vector<std::string>{}) << "every line ends in CR LF";
    }
    form.reset();
    panel.reset();
    devices.reset();
    ui.reset();
    Sandbox::TearDown();
  }

  // Starts the program with the panel plugged in (or not) and lets start-up run.
  void Start(sim::PanelConfig config = {}, bool plugged = true) {
    ui = std::make_unique<VirtualToolkit>();
    devices = std::make_unique<sim::FakeSerialDevices>(*ui);
    panel = std::make_unique<sim::VirtualPanel>(*ui, *devices, std::move(config));
    if (plugged) panel->Plug(false);
    std::filesystem::create_directories(Dir() / "logs");
    if (!settings)
      WriteFile(Dir() / "BrekGSMDemo.ini", "[ProgrammSet]\r\nControllerLogFileName=" + (Dir() / "logs" / "Panel.txt").string() + "\r\n");
    else if (!settings->empty())
      WriteFile(Dir() / "BrekGSMDemo.ini", *settings);
    form = std::make_unique<TBrekGSMDemoMainForm>(
        FormContext{ui.get(), &window, (Dir() / "BrekGSMDemo").string(), devices.get()});
    ui->Advance(1);
  }
  void Run(std::uint64_t ms) { ui->Advance(ms); }
  // Runs until connected (or the time is up).
  void Connect() {
    Start();
    Run(300);
    ASSERT_EQ(form->CurrentState, psConnected);
  }
  // Through the demo script and the panel's restart.
  void LoadDemo() {
    window.StartDemoButton.Click();
    Run(10000);
    ASSERT_EQ(form->CurrentState, psDemoLoaded);
  }
  std::vector<std::string> Commands() const { return panel->Model().Commands(); }
  // How often the panel heard a command, or commands beginning with a text.
  std::size_t Count(const std::string& command) const {
    const auto c = Commands();
    return static_cast<std::size_t>(std::count(c.begin(), c.end(), command));
  }
  std::size_t CountPrefix(const std::string& prefix) const {
    const auto c = Commands();
    return static_cast<std::size_t>(
        std::count_if(c.begin(), c.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
  }
  std::vector<std::string> CommandsSince(std::size_t from) const {
    auto c = Commands();
    return std::vector<std::string>(c.begin() + static_cast<std::ptrdiff_t>(std::min(from, c.size())), c.end());
  }
  std::vector<std::string> TrafficLog() const { return ErrorLogLines(Dir() / "logs" / ("Panel" + Today() + ".log")); }
  std::vector<std::string> ProgramErrorLog() const { return ErrorLogLines(Dir() / "ErrorLog.log"); }
  static std::string Today() { return "20261206"; }

 public:
  // The start script as it is handed out for an account number.
  static std::vector<std::string> StartScript(std::uint32_t account) {
    TCommandsList list("");
    list.InitStartCmd();
    list.InitAccount(account);
    std::vector<std::string> out;
    std::string c, k;
    while (list.GetNextCommand(c, k)) out.push_back(c);
    return out;
  }

 protected:
  // The settings file's text: unset, the traffic log in logs/; empty, no file at all.
  std::optional<std::string> settings;
  MainWindowControls window;
  std::unique_ptr<VirtualToolkit> ui;
  std::unique_ptr<sim::FakeSerialDevices> devices;
  std::unique_ptr<sim::VirtualPanel> panel;
  std::unique_ptr<TBrekGSMDemoMainForm> form;
};

}  // namespace brek::test
