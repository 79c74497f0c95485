// The brightness command routine, the brightness box and the step buttons.
#include <limits>

#include "app/frm_mdi.h"
#include "support/error_handler.h"
#include "support/host.h"
#include "support/number_text.h"
#include "support/status_log.h"

namespace kelvane {

namespace {
constexpr const char* kModule = "frmMDI";

bool blankText(const std::string& text) {
  return text.find_first_not_of(' ') == std::string::npos;
}

std::int32_t addStep(std::int32_t value, std::int32_t step) {
  const std::int64_t sum = static_cast<std::int64_t>(value) + step;
  if (sum > std::numeric_limits<std::int32_t>::max() || sum < std::numeric_limits<std::int32_t>::min())
    throw RuntimeError(rt::Overflow);
  return static_cast<std::int32_t>(sum);
}
}  // namespace

void FrmMDI::updateBrightness() {
  Trap trap(errors_, kModule, "UpdateBrightness");
  if (!trap([&] { brightness_ = clampBrightness(brightness_); })) return;
  // Writing the box may run its change handler, which saves the settings and
  // runs a complete nested UpdateBrightness before this call goes on.
  if (!trap([&] { txtBrightness->setText(QString::number(brightness_)); })) return;
  if (!trap([&] { log_.message("Updating brightness to: " + brightnessText()); })) return;
  // The value sent is the box's, read back as a whole number.
  if (!engine_.sendBrightness(trap, [this] { return toWholeNumber(valueOfText(brightnessText())); }))
    return;
  if (!engine_.detected() && !trap([&] { showLinkLost(); })) return;
  trap([&] {
    // Enabling a running timer leaves its interval running.
    if (!TimerCheckPanel->isActive()) TimerCheckPanel->start();
  });
}

void FrmMDI::txtBrightness_Change() {
  Trap trap(errors_, kModule, "txtBrightness_Change");
  std::string text;
  double value = 0;
  if (!trap([&] { text = brightnessText(); })) return;
  if (blankText(text)) return;
  if (!trap([&] { value = valueOfText(text); })) return;
  if (value >= 0 && value < 1024) {
    if (!trap([&] { brightness_ = toWholeNumber(value); })) return;
    trap([&] { writeSettings(); });
  }
}

void FrmMDI::txtBrightness_LostFocus() {
  Trap trap(errors_, kModule, "txtBrightness_LostFocus");
  std::string text;
  if (!trap([&] { text = brightnessText(); })) return;
  const double value = valueOfText(text);
  if (!isNumber(text) || value < 0 || value > kMaxBrightness) {
    trap([&] {
      host_.msgBox("The Brightness value must be a number in the range of 0 to 1023", mb::OkOnly,
                   "Range error");
    });
    return;
  }
  if (!trap([&] { brightness_ = toWholeNumber(value); })) return;
  trap([&] { writeSettings(); });
}

// A step applies no bound of its own: UpdateBrightness clamps.
void FrmMDI::stepBrightness(const char* location, std::int32_t step) {
  Trap trap(errors_, kModule, location);
  if (!trap([&] { brightness_ = addStep(brightness_, step); })) return;
  trap([&] { updateBrightness(); });
}

void FrmMDI::cmdDim2_Click() { stepBrightness("cmdDim2_Click", -50); }
void FrmMDI::cmdDim1_Click() { stepBrightness("cmdDim1_Click", -1); }
void FrmMDI::cmdBright1_Click() { stepBrightness("cmdBright1_Click", 1); }
void FrmMDI::cmdBright2_Click() { stepBrightness("cmdBright2_Click", 50); }

}  // namespace kelvane
