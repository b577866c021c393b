// Time from the start button to the demo being loaded, against the panel-sim program over
// a pty with zero reply delay, the panel's restart excluded; printed beside its floor.
#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <string>

#include "FakeSerialDevices.h"
#include "app/BrekGSMDemoMain.h"
#include "scripts/CommandsList.h"
#include "serial/ComPortKX.h"
#include "serial/PortRegistry.h"
#include "support/PanelSimProcess.h"
#include "ui/qt/QtToolkit.h"

namespace {

bool Pump(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 2);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  brek::BrekApplication app(argc, argv);
  brek::QtToolkit toolkit;
  const char* tmp = std::getenv("TMPDIR");
  const std::string dir = std::string(tmp ? tmp : "/tmp");
  brek::test::PanelSimProcess sim({"--restart", "200"});
  brek::RegisterPortDevice(9, sim.Path());
  brek::sim::FakeSerialDevices devices(toolkit);
  devices.AddPort({"COM9", "Panel (COM9)", true}, false);
  brek::MainWindowControls window;
  brek::TBrekGSMDemoMainForm form(brek::FormContext{&toolkit, &window, dir + "/BrekGSMDemo", &devices});
  if (!Pump([&] { return form.CurrentState == brek::psConnected; }, 5000)) {
    std::printf("the panel did not connect\n");
    return 1;
  }
  QElapsedTimer t;
  t.start();
  window.StartDemoButton.Click();
  Pump([&] { return !form.ComPort->Active(); }, 20000);
  const double scriptMs = static_cast<double>(t.nsecsElapsed()) / 1e6;
  // The restart is the panel's: wait for its return, then time the completion from the reopening.
  Pump([&] { return form.ComPort->Active() && form.ComPort->Status() == brek::kStatusOpened; }, 20000);
  t.restart();
  Pump([&] { return form.CurrentState == brek::psDemoLoaded; }, 20000);
  const double completionMs = static_cast<double>(t.nsecsElapsed()) / 1e6;

  // Floor: every byte both ways at 115200 baud (10 bits a byte), the completion's fixed
  // waits, and one 10 ms input batch per reply that the dialogue waits for.
  brek::TCommandsList script("");
  script.InitStartCmd();
  script.InitAccount(static_cast<std::uint32_t>(form.AccountNumber));
  std::string c, k;
  std::size_t sent = 0, received = 0, batches = 0;
  while (script.GetNextCommand(c, k)) {
    sent += c.size() + 2;
    if (c != "reset") {
      received += 4;  // "OK" CR LF
      ++batches;
    }
  }
  sent += 2 + 10 + 11 + 21 + 17;  // CR LF, VERSION?, AUTH=, ARM_IGNORE_TAMPER=1, TIME=
  received += 27 + 4 + 4 + 4;     // the version line and three answers
  batches += 1;                   // the version reply
  const double bytesMs = static_cast<double>(sent + received) * 10.0 / 115200.0 * 1000.0;
  const double waitsMs = 500 + 50 + 50;
  const double floorMs = bytesMs + waitsMs + 10.0 * static_cast<double>(batches);
  const double measured = scriptMs + completionMs;
  std::printf("start button -> demo loaded over a pty (panel restart excluded)\n");
  std::printf("  script %.1f ms + completion %.1f ms = %.1f ms\n", scriptMs, completionMs, measured);
  std::printf("  floor: bytes %.1f ms (%zu out, %zu in) + waits %.0f ms + %zu batches x 10 ms = %.1f ms\n", bytesMs,
              sent, received, waitsMs, batches, floorMs);
  std::printf("  ratio %.3f\n", measured / floorMs);
  // A pty moves bytes without the baud rate's delay, so the floor without the line time is
  // the one this run can approach.
  std::printf("  ratio to the floor without line time (%.1f ms): %.3f\n", floorMs - bytesMs,
              measured / (floorMs - bytesMs));
  form.OnFormDestroy();
  return 0;
}
