// The controller with the real Linux device layer and serial driver, without a window, for
// the hot-plug harness: prints "STATE <n>" on every change of the demo state and takes
// "click start|end|little|off|full", "refresh <n>" (times n refreshes and prints
// "REFRESH <median us> <max us>") and "quit" on its standard input.
//   hotplug_subject <program folder>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/BrekGSMDemoMain.h"
#include "serial/linux/UdevSerialDevices.h"
#include "ui/qt/QtToolkit.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  brek::BrekApplication app(argc, argv);
  const std::string folder = argc > 1 ? argv[1] : ".";
  brek::QtToolkit toolkit;
  brek::MainWindowControls controls;
  brek::UdevSerialDevices devices(toolkit);
  auto form = std::make_unique<brek::TBrekGSMDemoMainForm>(
      brek::FormContext{&toolkit, &controls, folder + "/BrekGSMDemo", &devices});
  int last = -1;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (form->CurrentState != last) {
      last = form->CurrentState;
      std::printf("STATE %d\n", last);
      std::fflush(stdout);
    }
  });
  watch.start(5);
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    std::string line;
    if (!std::getline(std::cin, line) || line == "quit") {
      QCoreApplication::quit();
      return;
    }
    if (line.rfind("refresh ", 0) == 0) {
      // How long one refresh keeps the user-interface thread.
      std::vector<long> us;
      for (int i = std::max(1, std::stoi(line.substr(8))); i > 0; --i) {
        const auto t0 = std::chrono::steady_clock::now();
        form->RefreshComPorts(true);
        us.push_back(static_cast<long>(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count()));
      }
      std::sort(us.begin(), us.end());
      std::printf("REFRESH %ld %ld\n", us[us.size() / 2], us.back());
      std::fflush(stdout);
      return;
    }
    brek::TButton* b = line == "click start"    ? &controls.StartDemoButton
                       : line == "click end"    ? &controls.EndDemoButton
                       : line == "click little" ? &controls.MoneyLittleButton
                       : line == "click off"    ? &controls.MoneyOffButton
                       : line == "click full"   ? &controls.MoneyFullButton
                                                : nullptr;
    if (b) toolkit.Dispatch([b] { b->Click(); });
  });
  const int rc = app.exec();
  form.reset();
  return rc;
}
