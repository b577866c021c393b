// The whole start script through the real serial driver, over a pty, to the panel-sim
// program, in real time.
#include <chrono>
#include <thread>

#include "FakeSerialDevices.h"
#include "app/BrekGSMDemoMain.h"
#include "scripts/CommandsList.h"
#include "serial/ComPortDrv.h"
#include "serial/PortRegistry.h"
#include "support/PanelSimProcess.h"
#include "support/TestSupport.h"
#include "support/VirtualToolkit.h"

namespace brek::test {
namespace {

class RealPty : public Sandbox {};

// Moves the virtual clock with the real one, running posted calls as they come.
bool RunRealTime(VirtualToolkit& ui, const std::function<bool()>& done, int timeoutMs) {
  const auto start = std::chrono::steady_clock::now();
  std::uint64_t moved = 0;
  while (!done()) {
    const auto elapsed = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    if (elapsed > static_cast<std::uint64_t>(timeoutMs)) return false;
    if (elapsed > moved) {
      ui.Advance(elapsed - moved);
      moved = elapsed;
    }
    ui.RunUntil([] { return false; }, 1);
  }
  return true;
}

TEST_F(RealPty, TheStartScriptReachesThePanelWholeAndInOrder) {
  const auto transcript = Dir() / "transcript.txt";
  PanelSimProcess sim({"--transcript", transcript.string(), "--restart", "300"});
  RegisterPortDevice(9, sim.Path());
  VirtualToolkit ui;
  sim::FakeSerialDevices devices(ui);
  devices.AddPort({"COM9", "Брек GSM Virtual COM Port (COM9)", true}, false);
  MainWindowControls window;
  TBrekGSMDemoMainForm form(FormContext{&ui, &window, (Dir() / "BrekGSMDemo").string(), &devices});
  ASSERT_TRUE(RunRealTime(ui, [&] { return form.CurrentState == psConnected; }, 5000));
  window.StartDemoButton.Click();
  ASSERT_TRUE(RunRealTime(ui, [&] { return form.CurrentState == psDemoLoaded; }, 20000));
  form.OnFormDestroy();
  UnregisterPortDevice(9);

  std::vector<std::string> expected = {"", "VERSION?", "AUTH=5916", "ZOLVA_SN?"};
  TCommandsList script("");
  script.InitStartCmd();
  script.InitAccount(3456);
  std::string c, k;
  while (script.GetNextCommand(c, k)) expected.push_back(c);
  for (const char* line : {"", "VERSION?", "AUTH=5916", "ARM_IGNORE_TAMPER=1"}) expected.push_back(line);
  std::vector<std::string> got;
  const std::string text = ReadFile(transcript);
  for (std::size_t start = 0, at; (at = text.find('\n', start)) != std::string::npos; start = at + 1)
    got.push_back(text.substr(start, at - start));
  ASSERT_EQ(got.size(), expected.size() + 1);
  EXPECT_EQ(std::vector<std::string>(got.begin(), got.end() - 1), expected);
  EXPECT_EQ(got.back().rfind("TIME=", 0), 0u);
}

}  // namespace
}  // namespace brek::test
