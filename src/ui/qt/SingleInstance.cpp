#include "ui/qt/SingleInstance.h"

#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QPointer>
#include <QThread>

namespace brek {
namespace {

constexpr int kMaxRequest = 4096;
// A running program that has taken the lock but is not listening yet gets this long.
constexpr int kConnectForMs = 3000;

}  // namespace

QString SingleInstance::RuntimeFolder() {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) return runtime;
  return QDir::tempPath();  // shared by every user: the names below carry the user's id
}

SingleInstance::SingleInstance(const QString& folder)
    : base_(folder + QStringLiteral("/brekgsmdemo-") + QString::number(getuid())),
      lock_(base_ + QStringLiteral(".lock")) {
  // Held for the whole run: never stale by age. A crashed run's lock is stale because its
  // process is gone (and its file lock with it).
  lock_.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() {
  server_.reset();  // removes the socket
  lock_.unlock();
}

bool SingleInstance::Claim() {
  if (lock_.tryLock(0)) {
    Listen();
    return true;
  }
  if (lock_.error() != QLockFile::LockFailedError) return true;  // no lock to be had: run unguarded
  AskTheRunningOne();
  return false;
}

void SingleInstance::Listen() {
  const QString path = base_ + QStringLiteral(".socket");
  QLocalServer::removeServer(path);  // a crashed run's; ours now that we hold the lock
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(path)) return;  // later starts then end without the window coming forward
  QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this] {
    while (QLocalSocket* s = server_->nextPendingConnection()) {
      auto request = std::make_shared<QByteArray>();
      QPointer<QLocalSocket> socket(s);
      auto take = [this, socket, request](bool ended) {
        if (!socket) return;
        *request += socket->read(kMaxRequest);
        const qsizetype eol = request->indexOf('\n');
        if (eol < 0 && !ended && request->size() < kMaxRequest) return;
        const QString token = QString::fromUtf8(request->left(eol < 0 ? request->size() : eol)).trimmed();
        socket->disconnect();
        socket->abort();
        socket->deleteLater();
        if (OnActivate) OnActivate(token);
      };
      QObject::connect(s, &QLocalSocket::readyRead, s, [take] { take(false); });
      QObject::connect(s, &QLocalSocket::disconnected, s, [take] { take(true); });
    }
  });
}

void SingleInstance::AskTheRunningOne() {
  // The token the desktop gave this start lets the running window come to the front.
  QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN");
  if (token.isEmpty()) token = qgetenv("DESKTOP_STARTUP_ID");
  QLocalSocket socket;
  QElapsedTimer waited;
  waited.start();
  for (;;) {
    socket.connectToServer(base_ + QStringLiteral(".socket"));
    if (socket.waitForConnected(500)) break;
    if (waited.elapsed() > kConnectForMs) return;
    QThread::msleep(100);
  }
  socket.write(token.left(kMaxRequest - 1) + '\n');
  socket.waitForBytesWritten(1000);
  socket.disconnectFromServer();
}

}  // namespace brek
