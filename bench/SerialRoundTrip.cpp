// Round trip from PutBlock on one pty end to OnReceiveData for the echoed line, through
// the real driver, the port object's 10 ms input timer and the Qt event loop; and the
// reader's wake-ups per second with no traffic.
#include <dirent.h>
#include <poll.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "serial/ComPortKX.h"
#include "serial/PortRegistry.h"
#include "support/Pty.h"
#include "ui/qt/QtToolkit.h"

namespace {

std::set<std::string> Tasks() {
  std::set<std::string> out;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') out.insert(e->d_name);
    closedir(d);
  }
  return out;
}

long Switches(const std::string& tid) {
  std::ifstream f("/proc/self/task/" + tid + "/status");
  std::string line;
  long total = 0;
  while (std::getline(f, line))
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
      total += std::stol(line.substr(line.find(':') + 1));
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  brek::BrekApplication app(argc, argv);
  brek::QtToolkit toolkit;
  brek::test::Pty pty;
  brek::RegisterPortDevice(1, pty.Path());

  std::atomic<bool> stop{false};
  std::thread echo([&] {  // the other end answers every line at once
    std::string pending;
    while (!stop) {
      pollfd p{pty.Master(), POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      pending += pty.ReadAvailable();
      for (std::size_t at; (at = pending.find('\n')) != std::string::npos;) {
        pty.Write(pending.substr(0, at - 1) + "\r");
        pending.erase(0, at + 1);
      }
    }
  });

  const auto before = Tasks();
  brek::TComPortKX port(toolkit);
  port.SetPortNumber(1);
  port.SetBaudRate(115200);
  port.SetInpBufSize(32768);
  bool got = false;
  port.OnReceiveData = [&](brek::TComPortKX* p) {
    const std::int32_t n = p->ReceivedBytes();
    bool line = false;
    for (std::int32_t i = 0; i < n; ++i)
      if (p->InpBuf()[(p->StartInInpBuf() + i) % p->InpBufSize()] == '\r') line = true;
    p->SetInpBufRead(true);
    p->TakeBytes(n);
    p->SetInpBufRead(false);
    if (line) got = true;
  };
  port.SetActive(true);
  QElapsedTimer opening;
  opening.start();
  while (port.Status() == brek::kStatusOpening && opening.elapsed() < 5000)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  if (port.Status() != brek::kStatusOpened) {
    std::printf("could not open the pty\n");
    return 1;
  }
  std::string reader;
  for (const auto& t : Tasks())
    if (!before.count(t)) reader = t;

  const std::uint8_t line[] = {'P', 'I', 'N', 'G', '\r', '\n'};
  std::vector<double> ms;
  for (int i = 0; i < 200; ++i) {
    got = false;
    QElapsedTimer t;
    t.start();
    port.PutBlock(line, sizeof line);
    while (!got && t.elapsed() < 2000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
  }
  std::sort(ms.begin(), ms.end());
  std::printf("serial round trip PutBlock -> OnReceiveData over a pty, %zu lines\n", ms.size());
  std::printf("  median %.2f ms, p99 %.2f ms, min %.2f ms, max %.2f ms\n", ms[ms.size() / 2],
              ms[ms.size() * 99 / 100], ms.front(), ms.back());

  stop = true;
  echo.join();
  const long s0 = reader.empty() ? 0 : Switches(reader);
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const long s1 = reader.empty() ? 0 : Switches(reader);
  std::printf("reader idle wake-ups: %.1f per second (over 3 s, thread %s)\n", (s1 - s0) / 3.0,
              reader.empty() ? "?" : reader.c_str());
  port.SetActive(false);
  return 0;
}
