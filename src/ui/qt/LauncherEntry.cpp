#include "ui/qt/LauncherEntry.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QVariantMap>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace brek {
namespace {

enum Bus : int { kNotBegun, kConnecting, kConnected, kNoBus };
std::atomic<int> gBus{kNotBegun};

// The entries made, touched on the window's thread only.
std::vector<LauncherEntry*>& Entries() {
  static std::vector<LauncherEntry*> entries;
  return entries;
}

}  // namespace

void LauncherEntry::ConnectInTheBackground() {
  int expected = kNotBegun;
  if (!gBus.compare_exchange_strong(expected, kConnecting)) return;
  // Only a bus that is there: with neither an address nor the user's bus socket, libdbus
  // would try to launch one of its own for the display.
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
      (runtime.isEmpty() || !QFileInfo::exists(runtime + QStringLiteral("/bus")))) {
    gBus = kNoBus;
    return;
  }
  try {
    std::thread([] {
      // Blocks until the bus answers its hello, or its time-out.
      // Settled only once nothing here touches the application any more: the program may
      // end as soon as it is.
      QCoreApplication* app = QCoreApplication::instance();
      if (!app || !QDBusConnection::sessionBus().isConnected()) return void(gBus = kNoBus);
      QMetaObject::invokeMethod(app, [] {
        gBus = kConnected;
        for (LauncherEntry* e : Entries()) e->Send();
      }, Qt::QueuedConnection);
    }).detach();
  } catch (const std::exception&) {
    gBus = kNoBus;  // no thread to be had: no progress on the dock
  }
}

void LauncherEntry::PassOverAMuteSessionBus() {
  // The bus's first local socket address: unix:path=... or unix:abstract=...
  const char* set = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string address = set ? set : runtime ? std::string("unix:path=") + runtime + "/bus" : "";
  address = address.substr(0, address.find(';'));
  if (address.rfind("unix:", 0) != 0) return;
  std::string name;
  bool abstract = false;
  for (std::size_t at = 5; at < address.size();) {
    const std::size_t end = std::min(address.find(',', at), address.size());
    const std::string pair = address.substr(at, end - at);
    if (pair.rfind("path=", 0) == 0) name = pair.substr(5);
    if (pair.rfind("abstract=", 0) == 0) name = pair.substr(9), abstract = true;
    at = end + 1;
  }
  sockaddr_un to{};
  to.sun_family = AF_UNIX;
  if (name.empty() || name.size() + 1 >= sizeof to.sun_path) return;
  std::memcpy(to.sun_path + (abstract ? 1 : 0), name.data(), name.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() + (abstract ? 1 : 0));
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  bool mute = false;
  if (connect(fd, reinterpret_cast<sockaddr*>(&to), length) == 0) {  // one not there fails at once anyway
    char hello[64];
    const int n = std::snprintf(hello, sizeof hello, "%cAUTH EXTERNAL ", '\0');
    std::string greet(hello, static_cast<std::size_t>(n));
    for (const char c : std::to_string(getuid())) {
      std::snprintf(hello, sizeof hello, "%02x", static_cast<unsigned char>(c));
      greet += hello;
    }
    greet += "\r\n";
    pollfd p{fd, POLLIN, 0};
    mute = send(fd, greet.data(), greet.size(), MSG_NOSIGNAL | MSG_DONTWAIT) != static_cast<ssize_t>(greet.size()) ||
           poll(&p, 1, 1000) <= 0;
  }
  close(fd);
  // An address with no transport: every use of the bus fails at once.
  if (mute) setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
}

bool LauncherEntry::BusSettled() { return gBus.load() != kConnecting; }

LauncherEntry::LauncherEntry(const QString& desktopId) : appUri_(QStringLiteral("application://") + desktopId) {
  Entries().push_back(this);
  ConnectInTheBackground();
}

LauncherEntry::~LauncherEntry() { std::erase(Entries(), this); }

void LauncherEntry::Show(const TProgressBar& bar) {
  // A dropped script's failure stays on the dock for its moment, the window's bar gone.
  const bool shown = bar.Visible() || bar.GetMode() == TProgressBar::Mode::Error;
  // The signal has no paused state; an error asks for the user's attention instead.
  wanted_.shown = shown;
  wanted_.urgent = shown && bar.GetMode() == TProgressBar::Mode::Error;
  wanted_.progress = shown && bar.Max() > 0 ? std::clamp(double(bar.Position()) / bar.Max(), 0.0, 1.0) : 0.0;
  Send();
}

void LauncherEntry::Send() {
  if (wanted_ == sent_ || gBus.load() != kConnected) return;  // sent once the bus is there
  sent_ = wanted_;
  QVariantMap properties;
  properties.insert(QStringLiteral("progress-visible"), sent_.shown);
  properties.insert(QStringLiteral("progress"), sent_.progress);
  properties.insert(QStringLiteral("urgent"), sent_.urgent);
  QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/com/canonical/unity/launcherentry/brekgsmdemo"),
                                                   QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                                   QStringLiteral("Update"));
  signal << appUri_ << properties;
  QDBusConnection::sessionBus().send(signal);
}

}  // namespace brek
