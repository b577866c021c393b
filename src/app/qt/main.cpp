// Program entry of the Linux program.
#include <memory>

#include "app/BrekGSMDemoMain.h"
#include "common/ProgramPath.h"
#include "serial/linux/UdevSerialDevices.h"
#include "ui/qt/Fonts.h"
#include "ui/qt/LauncherEntry.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/QtToolkit.h"
#include "ui/qt/SingleInstance.h"

namespace {
// After the window's close: how long the port's thread is given to close the port. A job
// stuck in the driver is never joined; the process ends and the system closes the device.
constexpr unsigned kPortEndWaitMs = 250;
}  // namespace

int main(int argc, char** argv) {
  brek::LauncherEntry::PassOverAMuteSessionBus();
  brek::BrekApplication app(argc, argv);
  // The desktop matches the window to packaging/brekgsmdemo.desktop (its icon, its dock entry).
  QGuiApplication::setDesktopFileName(QStringLiteral("brekgsmdemo"));
  // The main window's close ends the loop itself (MainWindow::closeEvent).
  QGuiApplication::setQuitOnLastWindowClosed(false);
  // A second window would find the panel held by the first and say it is not connected.
  brek::SingleInstance instance;
  if (!instance.Claim()) return 0;
  brek::LauncherEntry::ConnectInTheBackground();
  brek::EnsureTahoma();
  brek::QtToolkit toolkit;
  brek::MainWindowControls controls;
  brek::UdevSerialDevices devices(toolkit);
  int rc = 0;
  {
    // Created hidden: the start-up timer shows it, or ends the program with a message.
    brek::MainWindow window(controls, toolkit);
    toolkit.SetMainWindow(&window);
    instance.OnActivate = [&window](const QString& token) { window.BringToFront(token); };
    auto form = std::make_unique<brek::TBrekGSMDemoMainForm>(
        brek::FormContext{&toolkit, &controls, brek::ExecutablePath(), &devices, brek::PlatformUserFolders()});
    rc = app.exec();
    // The claim first: a start from now on opens its own window at once.
    instance.OnActivate = nullptr;
    instance.Release();
    toolkit.BoundWorkQueueEnds(kPortEndWaitMs);
    form.reset();
    toolkit.SetMainWindow(nullptr);
  }
  // Qt's bus thread, still waiting for a bus that does not answer, would hold the exit.
  if (!brek::LauncherEntry::BusSettled()) toolkit.EndProcess();
  return rc;
}
