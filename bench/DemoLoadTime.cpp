// Time from the start button to the demo being loaded, against the panel-sim program over
// a pty with zero reply delay, the panel's restart excluded; printed beside its floor.
// Built for Linux (Qt's event loop, the POSIX driver; it starts panel-sim itself) and for
// Windows (the Win32 message loop and driver; run under Wine by script-write.sh, which
// serves panel-sim as COM9), so that both figures come from one run.
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "FakeSerialDevices.h"
#include "app/BrekGSMDemoMain.h"
#include "scripts/CommandsList.h"
#include "serial/ComPortKX.h"

#ifdef _WIN32
#include <windows.h>

#include "ui/win32/Win32Toolkit.h"
#else
#include <sys/resource.h>

#include <QApplication>

#include "serial/PortRegistry.h"
#include "support/PanelSimProcess.h"
#include "ui/qt/QtToolkit.h"
#endif

namespace {

#ifdef _WIN32
using Loop = brek::Win32Toolkit;
#else
using Loop = brek::QtToolkit;
#endif

#ifdef _WIN32
double ProcessCpuMs() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto ms = [](const FILETIME& f) {
    return static_cast<double>((static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 1e4;
  };
  return ms(kernel) + ms(user);
}
#else
double ProcessCpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}
#endif

// The toolkit's own wait, as the program's waits are: no spinning loop of the bench's.
void WaitForEvents(Loop& loop) { loop.ProcessMessagesFor(2); }

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

bool Pump(Loop& loop, const std::function<bool()>& done, int timeoutMs) {
  const auto start = std::chrono::steady_clock::now();
  while (!done()) {
    if (MsSince(start) > timeoutMs) return false;
    WaitForEvents(loop);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  (void)argc;
  (void)argv;
  const std::string dir = ".";  // its logs go to the folder it runs in
  brek::Win32Toolkit toolkit;
  const int port = 9;  // served by script-write.sh
  const char* platform = "Windows";
#else
  qputenv("QT_QPA_PLATFORM", "offscreen");
  brek::BrekApplication app(argc, argv);
  brek::QtToolkit toolkit;
  const char* tmp = std::getenv("TMPDIR");
  const std::string dir = std::string(tmp ? tmp : "/tmp");
  brek::test::PanelSimProcess sim({"--restart", "200"});
  const int port = 9;
  brek::RegisterPortDevice(port, sim.Path());
  const char* platform = "Linux";
#endif
  const std::string name = "COM" + std::to_string(port);
  brek::sim::FakeSerialDevices devices(toolkit);
  devices.AddPort({name, "Panel (" + name + ")", true}, false);
  brek::MainWindowControls window;
  brek::TBrekGSMDemoMainForm form(brek::FormContext{&toolkit, &window, dir + "/BrekGSMDemo", &devices});
  if (!Pump(toolkit, [&] { return form.CurrentState == brek::psConnected; }, 10000)) {
    std::printf("the panel did not connect\n");
    return 1;
  }
  auto t = std::chrono::steady_clock::now();
  const double cpuAtStart = ProcessCpuMs();
  window.StartDemoButton.Click();
  Pump(toolkit, [&] { return !form.ComPort->Active(); }, 20000);
  const double scriptMs = MsSince(t);
  const double scriptCpuMs = ProcessCpuMs() - cpuAtStart;
  // The restart is the panel's: wait for its return, then time the completion from the reopening.
  // A pty stays through it: its device is made anew, as USB does.
  Pump(toolkit, [&] {
    if (form.Restart().waiting) devices.Replug(name);
    return form.ComPort->Active() && form.ComPort->Status() == brek::kStatusOpened;
  }, 20000);
  t = std::chrono::steady_clock::now();
  Pump(toolkit, [&] { return form.CurrentState == brek::psDemoLoaded; }, 20000);
  const double completionMs = MsSince(t);

  // Floor: every byte both ways at 115200 baud (10 bits a byte) and one 10 ms input batch
  // per reply that the dialogue waits for.
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
  sent += 2 + 10 + 11 + 11 + 21 + 17;  // CR LF, VERSION?, AUTH=, ZOLVA_SN?, ARM_IGNORE_TAMPER=1, TIME=
  received += 27 + 4 + 17 + 4 + 4;     // the version line and four answers
  batches += 5;                        // each of the completion's answers
  const double bytesMs = static_cast<double>(sent + received) * 10.0 / 115200.0 * 1000.0;
  const double waitsMs = 0;
  const double floorMs = bytesMs + waitsMs + 10.0 * static_cast<double>(batches);
  const double measured = scriptMs + completionMs;
  std::printf("start button -> demo loaded over a pty (panel restart excluded), %s\n", platform);
  std::printf("  script %.1f ms + completion %.1f ms = %.1f ms\n", scriptMs, completionMs, measured);
  std::printf("  the program's CPU time while the script was written: %.0f ms\n", scriptCpuMs);
  std::printf("  floor: bytes %.1f ms (%zu out, %zu in) + waits %.0f ms + %zu batches x 10 ms = %.1f ms\n", bytesMs,
              sent, received, waitsMs, batches, floorMs);
  std::printf("  ratio %.3f\n", measured / floorMs);
  // A pty moves bytes without the baud rate's delay, so the floor without the line time is
  // the one this run can approach.
  std::printf("  ratio to the floor without line time (%.1f ms): %.3f\n", floorMs - bytesMs,
              measured / (floorMs - bytesMs));
  std::fflush(stdout);
  form.OnFormDestroy();
  return 0;
}
