// The panel monitor: every 100 ms while enabled, ask the panel where it is
// and whether it moves, show it, and stop once it rests at the request.
#include <QApplication>

#include "app/frm_mdi.h"
#include "support/error_handler.h"
#include "support/host.h"
#include "support/number_text.h"
#include "support/status_log.h"

namespace kelvane {

namespace {
constexpr const char* kModule = "frmMDI";
const char* const kMoving = " (Moving)";
const char* const kStill = " (Still)";
}  // namespace

void FrmMDI::logAnswer(const std::vector<std::uint8_t>& answer) {
  if (!log_.showStatus()) return;
  for (std::size_t k = 1; k < answer.size(); ++k) log_.message("Result: " + hex2(answer[k]));
}

void FrmMDI::setMonitorColours(bool moving) {
  // Red with white text while the panel moves; green on the button face
  // colour once it is still.
  QPalette p = lblStatus->palette();
  const QColor face = QApplication::palette().color(QPalette::Button);
  p.setColor(QPalette::Window, moving ? QColor(0xFF, 0, 0) : face);
  p.setColor(QPalette::WindowText, moving ? QColor(0xFF, 0xFF, 0xFF) : QColor(0, 0xFF, 0));
  lblStatus->setAutoFillBackground(true);
  lblStatus->setPalette(p);
}

void FrmMDI::timerCheckPanel_Timer() {
  // While an error dialog waits for the user, the monitor holds still rather
  // than stacking a second report of the same failure on top of it.
  if (errors_.dialogOpen()) return;
  Trap trap(errors_, kModule, "TimerCheckPanel_Timer");
  std::int32_t panelValue = 0;
  std::string motionState;
  std::vector<std::uint8_t> answer;

  if (!trap([&] { log_.message("Updating Panel Value"); })) return;
  if (!link_.deviceDetected) return;
  if (!trap([&] {
        encodeReadPanelValue(link_.commandBytes);
        link_.writeReport();
        answer = link_.readReport();
      }))
    return;
  if (!trap([&] { host_.doEvents(); })) return;
  if (!trap([&] { logAnswer(answer); })) return;
  if (!trap([&] { panelValue = panelValueOf(answer); })) return;
  if (!trap([&] {
        encodeReadMotion(link_.commandBytes);
        link_.writeReport();
        answer = link_.readReport();
      }))
    return;
  if (!trap([&] { logAnswer(answer); })) return;
  if (!trap([&] {
        if (movingOf(answer)) {
          motionState = kMoving;
          return;
        }
        motionState = kStill;
        if (valueOfText(brightnessText()) == static_cast<double>(panelValue)) {
          TimerCheckPanel->stop();
        } else {
          motionState = kMoving;
          log_.message(
              "Panel stopped moving, but does not match current setting.  Moving to new position");
          updateBrightness();
        }
      }))
    return;
  if (!trap([&] { setMonitorColours(motionState == kMoving); })) return;
  trap([&] { lblStatus->setText(QString::number(panelValue)); });
}

}  // namespace kelvane
