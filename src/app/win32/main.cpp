// Program entry of the Windows program.
#include <memory>

#include "app/BrekGSMDemoMain.h"
#include "common/ProgramPath.h"
#include "serial/win32/DeviceNotice.h"
#include "serial/win32/Win32SerialDevices.h"
#include "ui/win32/MainWindow.h"
#include "ui/win32/SingleInstance.h"
#include "ui/win32/Win32Toolkit.h"

namespace {
// After the window's close: how long the port's thread is given to close the port. A job
// stuck in the driver is never joined; the process ends and the system closes the device.
constexpr unsigned kPortEndWaitMs = 250;
}  // namespace

int main() {
  // A second window would find the panel held by the first and say it is not connected.
  brek::Win32SingleInstance instance;
  if (!instance.Claim()) return 0;
  brek::Win32Toolkit toolkit;
  brek::MainWindowControls controls;
  {
    // Created hidden: the start-up timer shows it, or ends the program with a message.
    brek::Win32MainWindow window(controls, toolkit);
    toolkit.SetMainWindow(window.Handle());
    brek::Win32SerialDevices devices(window.Handle());
    brek::CommSetNoticeWindow(window.Handle());
    window.OnDeviceChange = [&devices](std::uintptr_t w, std::intptr_t l) {
      // A notice about the open port's own device goes the way of the reader's hang-up.
      if (!brek::CommDeviceNotice(brek::CommDrv, w, l)) devices.OnDeviceChangeMessage(w, l);
    };
    auto form = std::make_unique<brek::TBrekGSMDemoMainForm>(
        brek::FormContext{&toolkit, &controls, brek::ExecutablePath(), &devices});
    toolkit.Run();
    // The claim first: a start from now on opens its own window at once.
    instance.Release();
    toolkit.BoundWorkQueueEnds(kPortEndWaitMs);
    form.reset();
    toolkit.EndProcess();
  }
  // Not reached: the window goes with the process (see WM_CLOSE).
}
