#include "ui/qt/LauncherEntry.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QVariantMap>
#include <algorithm>

namespace brek {

LauncherEntry::LauncherEntry(const QString& desktopId) : appUri_(QStringLiteral("application://") + desktopId) {}

bool LauncherEntry::Connected() {
  if (connected_ < 0) {
    // Only a bus that is there: with neither an address nor the user's bus socket, libdbus
    // would try to launch one of its own for the display.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const bool busThere = !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") ||
                          (!runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus")));
    connected_ = busThere && QDBusConnection::sessionBus().isConnected() ? 1 : 0;
  }
  return connected_ == 1;
}

void LauncherEntry::Show(const TProgressBar& bar) {
  // A dropped script's failure stays on the dock for its moment, the window's bar gone.
  const bool shown = bar.Visible() || bar.GetMode() == TProgressBar::Mode::Error;
  // The signal has no paused state; an error asks for the user's attention instead.
  const bool urgent = shown && bar.GetMode() == TProgressBar::Mode::Error;
  const double progress = shown && bar.Max() > 0 ? std::clamp(double(bar.Position()) / bar.Max(), 0.0, 1.0) : 0.0;
  if (shown == shown_ && urgent == urgent_ && progress == progress_) return;
  if (!Connected()) return;
  shown_ = shown;
  urgent_ = urgent;
  progress_ = progress;
  QVariantMap properties;
  properties.insert(QStringLiteral("progress-visible"), shown);
  properties.insert(QStringLiteral("progress"), progress);
  properties.insert(QStringLiteral("urgent"), urgent);
  QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/com/canonical/unity/launcherentry/brekgsmdemo"),
                                                   QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                                   QStringLiteral("Update"));
  signal << appUri_ << properties;
  QDBusConnection::sessionBus().send(signal);
}

}  // namespace brek
