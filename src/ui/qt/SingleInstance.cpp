#include "ui/qt/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QPointer>
#include <QThread>
#include <algorithm>
#include <csignal>

namespace brek {
namespace {

constexpr int kMaxRequest = 4096;
// A running copy that does not answer within this is closing or hung: it is taken over.
constexpr int kAnswerWithinMs = 2000;
constexpr int kAskEveryMs = 100;
const QByteArray kAnswer = "1\n";

QString Base(const QString& folder) { return folder + QStringLiteral("/brekgsmdemo-") + QString::number(getuid()); }

QString SocketOf(const QString& base, qint64 pid) {
  return base + QLatin1Char('-') + QString::number(pid) + QStringLiteral(".socket");
}

// The holder's process id as its lock file says (0: none written yet, or a run killed
// between making the file and writing it).
qint64 PidIn(int fd) {
  char text[32] = {};
  const ssize_t n = pread(fd, text, sizeof text - 1, 0);
  return n > 0 ? QByteArray(text, static_cast<int>(n)).trimmed().toLongLong() : 0;
}

int OpenLock(const QByteArray& path, int extra = 0) {
  // Not followed: in the shared temporary folder a link could point anywhere.
  return ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | extra, 0600);
}

}  // namespace

QString SingleInstance::RuntimeFolder() {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty()) return runtime;
  // Started without it (from a shell of another session, say) beside a desktop start: the
  // desktop's folder all the same.
  const QFileInfo user(QStringLiteral("/run/user/") + QString::number(getuid()));
  if (user.isDir() && user.ownerId() == getuid()) return user.filePath();
  return QDir::tempPath();  // shared by every user: the names carry the user's id
}

SingleInstance::SingleInstance(const QString& folder) : folder_(folder) {}

SingleInstance::~SingleInstance() { Release(); }

void SingleInstance::Release() {
  server_.reset();  // removes the socket, which is this process's own
  // The file stays: another start may hold it by now.
  if (lock_ >= 0) ::close(lock_);
  lock_ = -1;
}

bool SingleInstance::Claim() {
  // A folder that cannot hold the lock falls back to the temporary folder, never to no guard.
  for (const QString& folder : {folder_, QDir::tempPath()}) {
    if (ClaimIn(folder)) return lock_ >= 0;
    if (folder == QDir::tempPath()) break;
  }
  return true;  // no folder holds a lock at all: that never keeps the program from starting
}

bool SingleInstance::ClaimIn(const QString& folder) {
  const QString base = Base(folder);
  const QByteArray path = QFile::encodeName(base + QStringLiteral(".lock"));
  QElapsedTimer waited;
  waited.start();
  for (;;) {
    const int fd = OpenLock(path);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      Hold(fd, base);
      return true;
    }
    const bool held = errno == EWOULDBLOCK;
    const qint64 pid = held ? PidIn(fd) : 0;
    ::close(fd);
    if (!held) return false;  // a file system without locks
    const int left = kAnswerWithinMs - static_cast<int>(waited.elapsed());
    if (left <= 0) break;
    if (pid > 0 && AskTheRunningOne(base, pid, left)) return true;  // lock_ stays -1: this start ends
    QThread::msleep(static_cast<unsigned long>(std::clamp(kAnswerWithinMs - static_cast<int>(waited.elapsed()), 0,
                                                          kAskEveryMs)));
  }
  // No answer: a fresh file renamed over the held one; the silent holder keeps a lock on a
  // file no longer named.
  const QByteArray fresh = path + '.' + QByteArray::number(getpid());
  const int fd = OpenLock(fresh, O_TRUNC);
  if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::rename(fresh.constData(), path.constData()) == 0) {
    Hold(fd, base);
    return true;
  }
  if (fd >= 0) ::close(fd);
  ::unlink(fresh.constData());
  return false;
}

void SingleInstance::Hold(int fd, const QString& base) {
  lock_ = fd;
  // A crashed holder's socket is of no use to anyone.
  if (const qint64 old = PidIn(fd); old > 0 && old != getpid() && ::kill(static_cast<pid_t>(old), 0) != 0 &&
                                    errno == ESRCH)
    QLocalServer::removeServer(SocketOf(base, old));
  const QString path = SocketOf(base, getpid());
  QLocalServer::removeServer(path);
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  // Listening before the file names it: a start that reads the name finds the socket. One
  // that cannot listen is never answered, and later starts take over.
  if (server_->listen(path)) {
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
          if (OnActivate) OnActivate(token);
          // The answer: this copy runs its loop and has the request.
          socket->write(kAnswer);
          socket->flush();
          socket->disconnectFromServer();
          socket->deleteLater();
        };
        QObject::connect(s, &QLocalSocket::readyRead, s, [take] { take(false); });
        QObject::connect(s, &QLocalSocket::disconnected, s, [take] { take(true); });
      }
    });
  }
  const QByteArray pid = QByteArray::number(getpid()) + '\n';
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.constData(), static_cast<size_t>(pid.size()), 0) != pid.size()) {
    // Unnamed: later starts get no answer and take over.
  }
}

bool SingleInstance::AskTheRunningOne(const QString& base, qint64 pid, int withinMs) {
  // The token the desktop gave this start lets the running window come to the front.
  QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN");
  if (token.isEmpty()) token = qgetenv("DESKTOP_STARTUP_ID");
  QElapsedTimer waited;
  waited.start();
  QLocalSocket socket;
  socket.connectToServer(SocketOf(base, pid));
  if (!socket.waitForConnected(withinMs)) return false;
  socket.write(token.left(kMaxRequest - 1) + '\n');
  QByteArray answer;
  while (!answer.contains('\n')) {
    const int left = withinMs - static_cast<int>(waited.elapsed());
    if (left <= 0 || !socket.waitForReadyRead(left)) return false;
    answer += socket.readAll();
  }
  return answer.startsWith(kAnswer);
}

}  // namespace brek
