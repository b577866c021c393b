// Program entry of the Linux program.
#include <memory>

#include "app/BrekGSMDemoMain.h"
#include "common/ProgramPath.h"
#include "serial/linux/UdevSerialDevices.h"
#include "ui/qt/Fonts.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/QtToolkit.h"
#include "ui/qt/SingleInstance.h"

int main(int argc, char** argv) {
  brek::BrekApplication app(argc, argv);
  // The desktop matches the window to packaging/brekgsmdemo.desktop (its icon, its dock entry).
  QGuiApplication::setDesktopFileName(QStringLiteral("brekgsmdemo"));
  // A second window would find the panel held by the first and say it is not connected.
  brek::SingleInstance instance;
  if (!instance.Claim()) return 0;
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
    instance.OnActivate = nullptr;
    form.reset();
    toolkit.SetMainWindow(nullptr);
  }
  return rc;
}
