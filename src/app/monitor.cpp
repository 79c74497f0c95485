// The panel monitor: every 100 ms while enabled, ask the panel where it is
// and whether it moves, show it, and stop once it rests at the request.
#include <QApplication>

#include "app/frm_mdi.h"
#include "support/error_handler.h"
#include "support/host.h"
#include "support/night_view_qt.h"
#include "support/number_text.h"
#include "support/status_log.h"

namespace kelvane {

namespace {
constexpr const char* kModule = "frmMDI";
}  // namespace

void FrmMDI::setMonitorColours(bool moving) {
  // Red with white text while the panel moves; green on the button face
  // colour once it is still. In the night view hue cannot tell them apart:
  // a lit block with dark text while it moves, red text on black once still.
  monitorShown_ = moving ? 1 : 0;
  QPalette p = lblStatus->palette();
  if (night::on()) {
    p.setColor(QPalette::Window, moving ? night::text() : night::window());
    p.setColor(QPalette::WindowText, moving ? night::window() : night::text());
  } else {
    const QColor face = QApplication::palette().color(QPalette::Button);
    p.setColor(QPalette::Window, moving ? QColor(0xFF, 0, 0) : face);
    p.setColor(QPalette::WindowText, moving ? QColor(0xFF, 0xFF, 0xFF) : QColor(0, 0xFF, 0));
  }
  lblStatus->setAutoFillBackground(true);
  lblStatus->setPalette(p);
  lblStatus->setToolTip(QString());
}

void FrmMDI::showLinkLost() {
  // The label shows only values the panel reported: while the dimmer is
  // away it says so, white on grey, and the status view says why.
  QPalette p = lblStatus->palette();
  p.setColor(QPalette::Window, QColor(0x80, 0x80, 0x80));
  p.setColor(QPalette::WindowText, QColor(0xFF, 0xFF, 0xFF));
  lblStatus->setAutoFillBackground(true);
  lblStatus->setPalette(p);
  lblStatus->setText(QString::fromLatin1(kLostCaption));
  lblStatus->setToolTip(QStringLiteral(
      "The dimmer does not answer or is not connected; Kelvane keeps looking for it while the panel "
      "is not at rest. The status view (Alt+D) shows why."));
}

void FrmMDI::timerCheckPanel_Timer() {
  // While an error dialog waits for the user, the monitor holds still rather
  // than stacking a second report of the same failure on top of it.
  if (errors_.dialogOpen()) return;
  Trap trap(errors_, kModule, "TimerCheckPanel_Timer");
  const MonitorResult r =
      engine_.monitorStep(trap, [this] { return valueOfText(brightnessText()); });
  switch (r.outcome) {
    case MonitorOutcome::Left:
      return;
    case MonitorOutcome::Lost:
    case MonitorOutcome::Found:  // sent again; the next step reads the panel
      trap([&] { showLinkLost(); });
      return;
    case MonitorOutcome::AtRest:
      TimerCheckPanel->stop();
      break;
    case MonitorOutcome::Mismatch:
      if (!trap([&] { updateBrightness(); })) return;
      break;
    case MonitorOutcome::Moving:
    case MonitorOutcome::Undecided:
      break;
  }
  const bool moving = r.outcome == MonitorOutcome::Moving || r.outcome == MonitorOutcome::Mismatch;
  if (!trap([&] { setMonitorColours(moving); })) return;
  trap([&] { lblStatus->setText(QString::number(r.reading.value)); });
}

}  // namespace kelvane
