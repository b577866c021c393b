// The Win32 serial driver under Wine: the whole start script to the simulated panel, whose
// pty the harness (com5.sh) maps as COM5. The device list is faked: Wine has no USB
// identity to look up.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "FakeSerialDevices.h"
#include "app/BrekGSMDemoMain.h"
#include "serial/ComPortDrv.h"
#include "serial/ComPortKX.h"
#include "serial/win32/DeviceNotice.h"
#include "support/TestSupport.h"
#include "support/VirtualToolkit.h"

#include <windows.h>
#include <dbt.h>
#undef INVALID_HANDLE_VALUE  // the driver's own constant, not the system's macro
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
  // A pty stays through the panel's restart: its device is made anew, as USB does.
  ASSERT_TRUE(RunRealTime(ui, [&] {
    if (form.Restart().waiting) devices.Replug("COM5");
    return form.CurrentState == psDemoLoaded;
  }, 30000));
  form.OnFormDestroy();

  const std::vector<std::string> expected = ExpectedDemoLoadTranscript(3456);
  const std::vector<std::string> got = TranscriptLines(transcript, expected.size() + 1);
  ASSERT_EQ(got.size(), expected.size() + 1);
  EXPECT_EQ(std::vector<std::string>(got.begin(), got.end() - 1), expected);
  EXPECT_EQ(got.back().rfind("TIME=", 0), 0u);
}

TEST_F(PortFive, ClosingWakesTheReaderAndAWriteToAClosedPortFails) {
  const HWND window = CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  CommSetNoticeWindow(window);
  int gone = 0;
  CommDrv.OnGone = [&] { ++gone; };
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
  // The system's notice about the open device (one re-enumerated under the same COMn).
  DEV_BROADCAST_HANDLE notice{};
  notice.dbch_size = sizeof notice;
  notice.dbch_devicetype = DBT_DEVTYP_HANDLE;
  const auto send = [&](WPARAM event) { return CommDeviceNotice(CommDrv, event, reinterpret_cast<LPARAM>(&notice)); };
  EXPECT_FALSE(send(DBT_DEVICEQUERYREMOVE)) << "another registration's";
  notice.dbch_hdevnotify = reinterpret_cast<HDEVNOTIFY>(CommDrv.DeviceNotice.load());
  EXPECT_TRUE(send(DBT_DEVICEQUERYREMOVE) && send(DBT_DEVICEREMOVECOMPLETE));
  EXPECT_EQ(gone, 1) << "the device lost, once";
  CommClose(CommDrv);  // returns: the reader was woken and joined
  EXPECT_EQ(CommDrv.Handle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CommWrite(CommDrv.Handle, line, sizeof line), 0u);
  EXPECT_FALSE(send(DBT_DEVICEREMOVECOMPLETE)) << "the closing unregistered it";
  CommDrv.InpBuf = nullptr;
  CommDrv.OnGone = nullptr;
  {
    // As in the program, through the port object: a query to remove has the handle closed
    // before it is answered; refused after all, it goes on to the device list to look again.
    VirtualToolkit ui;
    ui.threadedWork = true;
    TComPortKX port(ui);
    port.SetPortNumber(5);
    port.SetActive(true);
    ASSERT_TRUE(RunRealTime(ui, [&] { return port.Open(); }, 10000));
    notice.dbch_hdevnotify = reinterpret_cast<HDEVNOTIFY>(CommDrv.DeviceNotice.load());
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(send(DBT_DEVICEQUERYREMOVE));
    std::printf("query to remove answered in %.1f ms\n",
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    EXPECT_EQ(CommDrv.Handle, INVALID_HANDLE_VALUE) << "closed before the query was answered";
    EXPECT_FALSE(send(DBT_DEVICEQUERYREMOVEFAILED)) << "the device list's to hear";
    EXPECT_FALSE(send(DBT_DEVICEREMOVECOMPLETE)) << "the kept registration let go of";
  }
  CommSetNoticeWindow(nullptr);
  DestroyWindow(window);
}

}  // namespace
}  // namespace brek::test
