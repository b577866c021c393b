#include "ui/qt/LauncherEntry.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QVariantMap>
#include <algorithm>
#include <atomic>
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
      const bool connected = QDBusConnection::sessionBus().isConnected();
      gBus = connected ? kConnected : kNoBus;
      if (QCoreApplication* app = QCoreApplication::instance(); app && connected)
        QMetaObject::invokeMethod(app, [] { for (LauncherEntry* e : Entries()) e->Send(); }, Qt::QueuedConnection);
    }).detach();
  } catch (const std::exception&) {
    gBus = kNoBus;  // no thread to be had: no progress on the dock
  }
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
