#include "app/session_end.h"

#include <QObject>
#include <cstdlib>

#include "app/frm_mdi.h"
#include "app/qt_host.h"
#include "app/termination_signals.h"

namespace kelvane {

namespace {
FrmMDI* endingWindow = nullptr;
QtHost* endingHost = nullptr;

// Runs on every exit() of the process; after an ordinary close the window
// is unloaded already and this does nothing. Nothing here may touch the
// display: the event queue is not run and no dialog is shown.
void atProcessExit() {
  if (!endingWindow || !endingHost) return;
  endingHost->setUnattended(true);
  endingWindow->endWithoutDisplay();
}
}  // namespace

void endWithTheSession(FrmMDI& window, QtHost& host) {
  auto* requests = new TerminationSignals(&window);
  QObject::connect(requests, &TerminationSignals::requested, &window, [&window, &host] {
    host.setUnattended(true);
    window.endOnRequest();
  });
  QObject::connect(&window, &QObject::destroyed, [] { endingWindow = nullptr; });
  endingWindow = &window;
  endingHost = &host;
  static const bool registered = std::atexit(atProcessExit) == 0;
  (void)registered;
}

}  // namespace kelvane
