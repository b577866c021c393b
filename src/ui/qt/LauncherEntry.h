#pragma once
// The script's progress on the dock's icon: docks and task managers (Ubuntu's, KDE's, Plank
// and others) read it from the launcher-entry signal on the session bus, keyed by the
// program's .desktop file. Without a session bus it does nothing. The bus is connected on a
// thread of its own from the first entry made (at start-up): a bus that accepts and never
// answers holds that thread, never the window's; progress is sent once the bus is there.
#include <QString>

#include "ui/Controls.h"

namespace brek {

class LauncherEntry {
 public:
  // desktopId: the .desktop file's name, e.g. "brekgsmdemo.desktop".
  explicit LauncherEntry(const QString& desktopId);
  ~LauncherEntry();
  LauncherEntry(const LauncherEntry&) = delete;
  LauncherEntry& operator=(const LauncherEntry&) = delete;

  void Show(const TProgressBar& bar);

  // Begins connecting to the session bus in the background (once a process).
  static void ConnectInTheBackground();
  // No connection is being made now: none begun, or it ended either way. While one is, the
  // process's normal end would wait for it (Qt's bus thread is joined at exit).
  static bool BusSettled();
  // Before the application is made: a session bus that takes the connection and does not
  // greet within a second is not used at all (Qt's screen-reader bridge would wait on it
  // on the window's thread).
  static void PassOverAMuteSessionBus();

 private:
  struct State {
    bool shown = false, urgent = false;
    double progress = 0;
    bool operator==(const State&) const = default;
  };
  void Send();

  QString appUri_;
  State wanted_, sent_;
};

}  // namespace brek
