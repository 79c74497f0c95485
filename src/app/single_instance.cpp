#include "app/single_instance.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>
#include <cstdio>

#include "support/file_helpers.h"
#include "support/runtime_error.h"

namespace kelvane {

namespace {
// Beyond one read bound of the dimmer, which the running one may be waiting out.
constexpr int kAnswerBoundMs = 10000;
const QByteArray kRequest = "front\n";
const QByteArray kAnswer = "done\n";

#ifndef _WIN32  // pipe names on Windows need no folder
QString runtimeFolder() {
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  return folder.isEmpty() ? QDir::tempPath() : folder;
}
#endif
}  // namespace

SingleInstance::SingleInstance(const std::string& settingsFile, QObject* parent) : QObject(parent) {
  // The file's real path: its folder's links resolved, then the file's own.
  const QFileInfo given(QString::fromStdString(settingsFile));
  if (!given.dir().exists()) {
    try {
      makeFolder(given.absolutePath().toStdString());
    } catch (const RuntimeError&) {
      // claim() finds no place for its lock and says so
    }
  }
  QString real = given.canonicalFilePath();
  if (real.isEmpty()) {
    const QString folder = given.dir().canonicalPath();
    real = (folder.isEmpty() ? given.absolutePath() : folder) + QLatin1Char('/') + given.fileName();
  }
  const QFileInfo file(real);
  const QString beside = file.absolutePath() + QStringLiteral("/.") + file.fileName();
  lockPath_ = beside + QStringLiteral(".window.lock");
  recordPath_ = beside + QStringLiteral(".window");
#ifdef _WIN32
  const QByteArray key = real.toLower().toUtf8();  // one file, however the case is spelled
#else
  const QByteArray key = real.toUtf8();
#endif
  const QString hash = QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(16));
#ifdef _WIN32
  name_ = QStringLiteral("kelvane-") + hash;
#else
  name_ = runtimeFolder() + QStringLiteral("/kelvane-") + hash + QStringLiteral(".socket");
#endif
}

SingleInstance::~SingleInstance() {
  if (server_) QFile::remove(recordPath_);
}

SingleInstance::Claim SingleInstance::claim() {
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
      // Where a later start finds us, whatever its own runtime folder; written
      // in place (no temporary file that a kill could leave behind): a start
      // that finds it half written only asks again.
      const std::string record = recordPath_.toStdString();
      QFile file(recordPath_);
      if (!(pathExists(record) && !isRegularFile(record)) && file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(server_->fullServerName().toUtf8());
      else
        std::fprintf(stderr, "kelvane: cannot write %s\n", qPrintable(recordPath_));
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
      return Claim::Ours;
    }
    if (lock_->error() != QLockFile::LockFailedError) {
      // No lock can be made there (a read-only settings folder): run
      // unguarded rather than not at all.
      std::fprintf(stderr, "kelvane: cannot create %s; a second window is not prevented\n",
                   qPrintable(lockPath_));
      return Claim::Ours;
    }
    // Held: ask the holder, which may still be between its lock and listen.
    QString name;
    try {
      name = QString::fromStdString(readRegularFile(recordPath_.toStdString())).trimmed();
    } catch (const RuntimeError&) {
    }
    QLocalSocket socket;
    if (!name.isEmpty()) socket.connectToServer(name);
    if (!name.isEmpty() && socket.waitForConnected(std::max<qint64>(1, deadline.remainingTime()))) {
      socket.write(kRequest);
      socket.flush();
      QByteArray answer;
      while (!answer.contains(kAnswer) && socket.waitForReadyRead(std::max<qint64>(1, deadline.remainingTime())))
        answer += socket.readAll();
      if (answer.contains(kAnswer)) {
        std::fprintf(stderr, "kelvane: already running on these settings; brought its window to the front\n");
        return Claim::BroughtToFront;
      }
    }
    QThread::msleep(50);
  }
  QString host, app;
  lock_->getLockInfo(&holder_, &host, &app);
  std::fprintf(stderr,
               "kelvane: another Kelvane (process %lld) uses these settings but does not answer; "
               "end it or wait for it to end, then start again\n",
               static_cast<long long>(holder_));
  return Claim::NotAnswering;
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
