#pragma once
// Turns the requests to end that come from outside the window (SIGTERM,
// SIGINT, SIGHUP: a logout, a shutdown, `kill`, a closed terminal) into a Qt
// signal delivered on the event loop, where the program can end as it does
// when its window is closed.
#include <QObject>

class QSocketNotifier;

namespace kelvane {

class TerminationSignals : public QObject {
  Q_OBJECT
 public:
  // Installs the handlers; one instance per process.
  explicit TerminationSignals(QObject* parent = nullptr);
  ~TerminationSignals() override;

 signals:
  void requested(int signalNumber);

 private:
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace kelvane
