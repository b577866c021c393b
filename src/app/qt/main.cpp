// Program entry of the Linux program.
#include <memory>

#include "app/BrekGSMDemoMain.h"
#include "common/ProgramPath.h"
#include "serial/linux/UdevSerialDevices.h"
#include "ui/qt/Fonts.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/QtToolkit.h"

int main(int argc, char** argv) {
  brek::BrekApplication app(argc, argv);
  brek::EnsureTahoma();
  brek::QtToolkit toolkit;
  brek::MainWindowControls controls;
  brek::UdevSerialDevices devices(toolkit);
  int rc = 0;
  {
    // Created hidden: the start-up timer shows it, or ends the program with a message.
    brek::MainWindow window(controls, toolkit);
    toolkit.SetMainWindow(&window);
    auto form = std::make_unique<brek::TBrekGSMDemoMainForm>(
        brek::FormContext{&toolkit, &controls, brek::ExecutablePath(), &devices, brek::PlatformUserFolders()});
    rc = app.exec();
    form.reset();
    toolkit.SetMainWindow(nullptr);
  }
  return rc;
}
