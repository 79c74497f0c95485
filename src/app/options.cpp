// Window options: keep in front, turn off on exit, help, the status view and
// the night view.
#include "app/frm_mdi.h"
#include "settings/presets.h"
#include "support/error_handler.h"
#include "support/host.h"
#include "support/night_view_qt.h"
#include "support/status_log.h"

namespace kelvane {

namespace {
constexpr const char* kModule = "frmMDI";
constexpr int kKeyD = 68;
constexpr int kAltOnly = 4;
}  // namespace

void FrmMDI::setWindowPos(bool topmost) {
  stayOnTop_ = topmost;
  if (bool(windowFlags() & Qt::WindowStaysOnTopHint) == topmost) return;
  // Changing the stacking flag hides a visible window; bring it back at the
  // same place with the focus where it was.
  const bool wasVisible = isVisible();
  const bool wasActive = isActiveWindow();
  const QRect where = geometry();
  QWidget* focus = focusWidget();
  setWindowFlag(Qt::WindowStaysOnTopHint, topmost);
  if (wasVisible) {
    setGeometry(where);
    show();
    if (wasActive) activateWindow();
    if (focus) focus->setFocus(Qt::OtherFocusReason);
  }
}

void FrmMDI::chkKeeponTop_Click() {
  Trap trap(errors_, kModule, "chkKeeponTop_Click");
  if (!trap([&] { setWindowPos(chkKeeponTop->value() == 1); })) return;
  trap([&] { writeSettings(); });
}

void FrmMDI::chkTurnOff_Click() {
  Trap trap(errors_, kModule, "chkTurnOff_Click");
  trap([&] { writeSettings(); });
}

void FrmMDI::cmdHelp_Click() {
  Trap trap(errors_, kModule, "cmdHelp_Click");
  trap([&] { help_.showHelp("2100"); });
}

void FrmMDI::formKeyUp(int keyCode, int shift) {
  Trap trap(errors_, kModule, "Form_KeyUp");
  if (keyCode != kKeyD || shift != kAltOnly) return;
  trap([&] {
    if (log_.showStatus()) {
      log_.setShowStatus(false);
      setWindowHeightTwips(kHeightClosed);
    } else {
      log_.setShowStatus(true);
      setWindowHeightTwips(kHeightOpen);
    }
  });
}

void FrmMDI::switchNightView() {
  Trap trap(errors_, kModule, "NightView_Switch");
  if (!trap([&] {
        night::apply(!night::on());
        if (monitorShown_ >= 0) setMonitorColours(monitorShown_ == 1);
      }))
    return;
  // Only this key is written: the rest of the settings, and the dimmer,
  // are no business of the view.
  trap([&] { writeKeys({{kNightViewKey, night::on() ? "1" : "0"}}); });
}

}  // namespace kelvane
