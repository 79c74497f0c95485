#include "app/single_instance.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>
#include <cstdio>

namespace kelvane {

namespace {
// Beyond one read bound of the dimmer, which the running one may be waiting out.
constexpr int kAnswerBoundMs = 10000;
const QByteArray kRequest = "front\n";
const QByteArray kAnswer = "done\n";

QString runtimeFolder() {
#ifdef _WIN32
  return QDir::tempPath();  // per user; pipe names need no folder
#else
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  return folder.isEmpty() ? QDir::tempPath() : folder;
#endif
}
}  // namespace

SingleInstance::SingleInstance(const std::string& settingsFolder, QObject* parent) : QObject(parent) {
  const QString folder = QDir::cleanPath(QFileInfo(QString::fromStdString(settingsFolder)).absoluteFilePath());
  const QString key = QString::fromLatin1(
      QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
  const QString base = runtimeFolder() + QStringLiteral("/kelvane-") + key;
  lockPath_ = base + QStringLiteral(".lock");
#ifdef _WIN32
  name_ = QStringLiteral("kelvane-") + key;
#else
  name_ = base + QStringLiteral(".socket");
#endif
}

SingleInstance::~SingleInstance() = default;

std::optional<int> SingleInstance::claim() {
  lock_ = std::make_unique<QLockFile>(lockPath_);
  // A lock is stale only when its process is gone, however old it is.
  lock_->setStaleLockTime(0);
  const QDeadlineTimer deadline(kAnswerBoundMs);
  while (!deadline.hasExpired()) {
    if (lock_->tryLock(0)) {
      // Ours now: a socket left behind is a crashed holder's.
      QLocalServer::removeServer(name_);
      server_ = new QLocalServer(this);
      server_->setSocketOptions(QLocalServer::UserAccessOption);
      if (!server_->listen(name_))
        std::fprintf(stderr, "kelvane: cannot listen on %s: %s\n", qPrintable(name_),
                     qPrintable(server_->errorString()));
      connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_->nextPendingConnection()) {
          connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
          connect(peer, &QLocalSocket::readyRead, peer, [this, peer] {
            if (!peer->readAll().contains(kRequest)) return;
            bringToFront();
            peer->write(kAnswer);
            peer->flush();
          });
        }
      });
      return std::nullopt;
    }
    if (lock_->error() != QLockFile::LockFailedError) {
      // No lock can be made there (a read-only or missing runtime folder):
      // run unguarded rather than not at all.
      std::fprintf(stderr, "kelvane: cannot create %s; a second window is not prevented\n",
                   qPrintable(lockPath_));
      return std::nullopt;
    }
    // Held: ask the holder, which may still be between its lock and listen.
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (socket.waitForConnected(std::max<qint64>(1, deadline.remainingTime()))) {
      socket.write(kRequest);
      socket.flush();
      QByteArray answer;
      while (!answer.contains(kAnswer) && socket.waitForReadyRead(std::max<qint64>(1, deadline.remainingTime())))
        answer += socket.readAll();
      if (answer.contains(kAnswer)) {
        std::fprintf(stderr, "kelvane: already running on these settings; brought its window to the front\n");
        return 0;
      }
    }
    QThread::msleep(50);
  }
  qint64 pid = 0;
  QString host, app;
  lock_->getLockInfo(&pid, &host, &app);
  std::fprintf(stderr,
               "kelvane: another Kelvane (process %lld) uses these settings but does not answer; "
               "end it or wait for it to end, then start again\n",
               static_cast<long long>(pid));
  return 1;
}

void SingleInstance::bringToFront() {
  if (!window_ || !window_->isVisible()) return;  // still starting: it comes up on top anyway
  window_->setWindowState((window_->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  window_->raise();
  window_->activateWindow();
  // An open dialog stays above its window.
  if (QWidget* modal = QApplication::activeModalWidget()) {
    modal->raise();
    modal->activateWindow();
  }
}

}  // namespace kelvane
