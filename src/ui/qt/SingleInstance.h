#pragma once
// One program per user: the first start holds a lock (flock) on a file in the user's runtime
// folder ($XDG_RUNTIME_DIR, else /run/user/<uid>, else the temporary folder, whichever can
// hold it) and listens on a local socket beside it, named in the file. A later start hands
// it its activation token and ends once the running one has answered; with no answer in 2 s
// (closing, hung) it takes the lock over and runs itself. The folder is the key, so a test
// that starts programs side by side gives each its own XDG_RUNTIME_DIR.
#include <QLocalServer>
#include <QString>
#include <functional>
#include <memory>

namespace brek {

class SingleInstance {
 public:
  explicit SingleInstance(const QString& folder = RuntimeFolder());
  ~SingleInstance();

  // True for the one that runs: this start holds the lock (taken, or taken over from a copy
  // that did not answer), or no folder could hold one at all. False when a running copy
  // answered; it has then been asked to come to the front.
  bool Claim();
  // Lets go of the lock and the socket: a start from now on runs at once.
  void Release();
  // In the running one: another start asked for the window, with the desktop's token.
  std::function<void(const QString& activationToken)> OnActivate;

  static QString RuntimeFolder();

 private:
  bool ClaimIn(const QString& folder);
  void Hold(int fd, const QString& base);
  bool AskTheRunningOne(const QString& base, qint64 pid, int withinMs);

  QString folder_;
  int lock_ = -1;
  std::unique_ptr<QLocalServer> server_;
};

}  // namespace brek
