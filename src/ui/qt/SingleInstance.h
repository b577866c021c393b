#pragma once
// One program per user: the first start holds a lock file in the user's runtime folder
// ($XDG_RUNTIME_DIR, else the temporary folder) and listens on a local socket beside it; a
// later start hands it its activation token and ends. The folder is the key, so a test
// that starts programs side by side gives each its own XDG_RUNTIME_DIR.
#include <QLocalServer>
#include <QLockFile>
#include <QString>
#include <functional>
#include <memory>

namespace brek {

class SingleInstance {
 public:
  explicit SingleInstance(const QString& folder = RuntimeFolder());
  ~SingleInstance();

  // True for the one that runs: this start took the lock, or no lock could be made at all
  // (that never keeps the program from starting). False when another start holds it; it
  // has then been asked to come to the front.
  bool Claim();
  // In the running one: another start asked for the window, with the desktop's token.
  std::function<void(const QString& activationToken)> OnActivate;

  static QString RuntimeFolder();

 private:
  void Listen();
  void AskTheRunningOne();

  QString base_;
  QLockFile lock_;
  std::unique_ptr<QLocalServer> server_;
};

}  // namespace brek
