#pragma once
// The script's progress on the dock's icon: docks and task managers (Ubuntu's, KDE's, Plank
// and others) read it from the launcher-entry signal on the session bus, keyed by the
// program's .desktop file. Without a session bus it does nothing.
#include <QString>

#include "ui/Controls.h"

namespace brek {

class LauncherEntry {
 public:
  // desktopId: the .desktop file's name, e.g. "brekgsmdemo.desktop".
  explicit LauncherEntry(const QString& desktopId);

  void Show(const TProgressBar& bar);

 private:
  bool Connected();

  QString appUri_;
  int connected_ = -1;  // -1 not tried yet
  bool shown_ = false, urgent_ = false;
  double progress_ = 0;
};

}  // namespace brek
