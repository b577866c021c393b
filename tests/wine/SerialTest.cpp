// The Win32 serial driver under Wine: the whole start script to the simulated panel, whose
// pty the harness (com5.sh) maps as COM5. The device list is faked: Wine has no USB
// identity to look up.
#include <cstdlib>

#include "FakeSerialDevices.h"
#include "app/BrekGSMDemoMain.h"
#include "serial/ComPortDrv.h"
#include "support/TestSupport.h"
#include "support/VirtualToolkit.h"

namespace brek::test {
namespace {

// (A suite named after the port would make its test folders "COM5.*", a reserved device name.)
class PortFive : public Sandbox {};

TEST_F(PortFive, TheStartScriptReachesThePanelWholeAndInOrder) {
  const char* transcript = std::getenv("BREK_TRANSCRIPT");
  ASSERT_NE(transcript, nullptr) << "run by com5.sh";
  VirtualToolkit ui;
  sim::FakeSerialDevices devices(ui);
  devices.AddPort({"COM5", "Брек GSM Virtual COM Port (COM5)", true}, false);
  MainWindowControls window;
  TBrekGSMDemoMainForm form(FormContext{&ui, &window, (Dir() / "BrekGSMDemo.exe").string(), &devices});
  ASSERT_TRUE(RunRealTime(ui, [&] { return form.CurrentState == psConnected; }, 10000));
  window.StartDemoButton.Click();
  ASSERT_TRUE(RunRealTime(ui, [&] { return form.CurrentState == psDemoLoaded; }, 30000));
  form.OnFormDestroy();

  const std::vector<std::string> expected = ExpectedDemoLoadTranscript(3456);
  const std::vector<std::string> got = TranscriptLines(transcript, expected.size() + 1);
  ASSERT_EQ(got.size(), expected.size() + 1);
  EXPECT_EQ(std::vector<std::string>(got.begin(), got.end() - 1), expected);
  EXPECT_EQ(got.back().rfind("TIME=", 0), 0u);
}

TEST_F(PortFive, ClosingWakesTheReaderAndAWriteToAClosedPortFails) {
  CommDrv.PortNumber = 5;
  std::vector<std::uint8_t> ring(4096);
  CommDrv.InpBuf = ring.data();
  CommDrv.InpBufSize = static_cast<std::int32_t>(ring.size());
  CommDrv.Dcb = DCB{};
  CommDrv.Dcb.DCBlength = 28;
  CommDrv.Dcb.BaudRate = 115200;
  CommDrv.Dcb.Flags = 1;
  CommDrv.Dcb.ByteSize = 8;
  ASSERT_TRUE(CommOpen(CommDrv));
  const std::uint8_t line[] = {'V', 'E', 'R', 'S', 'I', 'O', 'N', '?', '\r', '\n'};
  EXPECT_EQ(CommWrite(CommDrv.Handle, line, sizeof line), sizeof line);
  CommClose(CommDrv);  // returns: the reader was woken and joined
  EXPECT_EQ(CommDrv.Handle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CommWrite(CommDrv.Handle, line, sizeof line), 0u);
  CommDrv.InpBuf = nullptr;
}

}  // namespace
}  // namespace brek::test
