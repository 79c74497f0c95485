#pragma once
// One window per settings file: two windows on the same settings would
// interleave their commands on the dimmer and overwrite each other's
// settings. The first start holds a lock beside the settings file itself
// (its real path, links followed, so every spelling of the path and every
// runtime folder meets the same lock), listens on a local socket and writes
// the socket's name beside the lock; a later start asks it to come to the
// front and ends.
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>

class QLocalServer;
class QLockFile;

namespace kelvane {

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  explicit SingleInstance(const std::string& settingsFile, QObject* parent = nullptr);
  ~SingleInstance() override;

  enum class Claim { Ours, BroughtToFront, NotAnswering };
  // Ours when this process is the one for these settings; otherwise another
  // one runs and either came to the front or did not answer in time.
  Claim claim();
  // The process that holds the lock (after NotAnswering).
  qint64 holder() const { return holder_; }

  // The window brought to the front when a later start asks for it.
  void setWindow(QWidget* window) { window_ = window; }

 private:
  void bringToFront();

  QString name_;
  QString lockPath_;
  QString recordPath_;  // holds the socket's name
  qint64 holder_ = 0;
  std::unique_ptr<QLockFile> lock_;
  QLocalServer* server_ = nullptr;
  QPointer<QWidget> window_;
};

}  // namespace kelvane
