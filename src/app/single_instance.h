#pragma once
// One window per settings folder: two windows on the same settings would
// interleave their commands on the dimmer and overwrite each other's
// settings. The first start holds a lock named from the settings folder and
// listens on a local socket of the same name; a later start asks it to come
// to the front and ends.
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
  explicit SingleInstance(const std::string& settingsFolder, QObject* parent = nullptr);
  ~SingleInstance() override;

  // Empty when this process is the one for these settings; otherwise
  // another one runs (and has been asked to come to the front) and the
  // exit code this process should end with.
  std::optional<int> claim();

  // The window brought to the front when a later start asks for it.
  void setWindow(QWidget* window) { window_ = window; }

 private:
  void bringToFront();

  QString name_;
  QString lockPath_;
  std::unique_ptr<QLockFile> lock_;
  QLocalServer* server_ = nullptr;
  QPointer<QWidget> window_;
};

}  // namespace kelvane
