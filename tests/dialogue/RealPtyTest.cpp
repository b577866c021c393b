// The whole start script through the real serial driver, over a pty, to the panel-sim
// program, in real time.
#include "FakeSerialDevices.h"
#include "app/BrekGSMDemoMain.h"
#include "serial/ComPortDrv.h"
#include "serial/PortRegistry.h"
#include "support/PanelSimProcess.h"
#include "support/TestSupport.h"
#include "support/VirtualToolkit.h"

namespace brek::test {
namespace {

class RealPty : public Sandbox {};

TEST_F(RealPty, TheStartScriptReachesThePanelWholeAndInOrder) {
  const auto transcript = Dir() / "transcript.txt";
  PanelSimProcess sim({"--transcript", transcript.string(), "--restart", "300"});
  RegisterPortDevice(9, sim.Path());
  VirtualToolkit ui;
  ui.threadedWork = true;  // the port's own thread, as in the programs
  sim::FakeSerialDevices devices(ui);
  devices.AddPort({"COM9", "Брек GSM Virtual COM Port (COM9)", true}, false);
  MainWindowControls window;
  TBrekGSMDemoMainForm form(FormContext{&ui, &window, (Dir() / "BrekGSMDemo").string(), &devices});
  ASSERT_TRUE(RunRealTime(ui, [&] { return form.CurrentState == psConnected; }, 5000));
  window.StartDemoButton.Click();
  // A pty stays through the panel's restart: its device is made anew, as USB does.
  ASSERT_TRUE(RunRealTime(ui, [&] {
    if (form.Restart().waiting) devices.Replug("COM9");
    return form.CurrentState == psDemoLoaded;
  }, 20000));
  form.OnFormDestroy();
  UnregisterPortDevice(9);

  const std::vector<std::string> expected = ExpectedDemoLoadTranscript(3456);
  const std::vector<std::string> got = TranscriptLines(transcript, expected.size() + 1);
  std::size_t same = 0;
  while (same < got.size() && same < expected.size() && got[same] == expected[same]) ++same;
  ASSERT_EQ(got.size(), expected.size() + 1)
      << "the last line heard: " << (got.empty() ? "" : got.back()) << "; the first difference, at line " << same
      << ": heard \"" << (same < got.size() ? got[same] : "") << "\", expected \""
      << (same < expected.size() ? expected[same] : "") << "\"";
  EXPECT_EQ(std::vector<std::string>(got.begin(), got.end() - 1), expected);
  EXPECT_EQ(got.back().rfind("TIME=", 0), 0u);
}

}  // namespace
}  // namespace brek::test
