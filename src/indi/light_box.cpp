#include "indi/light_box.h"

#include "device/hidraw_linux.h"
#include "device/protocol.h"
#include "device/sim_hid.h"
#include "settings/ini_file.h"
#include "settings/ini_store.h"
#include "settings/presets.h"
#include "support/file_helpers.h"
#include "support/number_text.h"
#include "support/runtime_error.h"

namespace kelvane {

namespace {
constexpr const char* kModule = "LightBox";
constexpr const char* kSilentAtConnect =
    "the dimmer was found but does not answer: check its power supply and USB cable, then "
    "connect again";

// The window's last brightness, the light's first On value.
std::int32_t settingsBrightness() {
  std::string text;
  try {
    IniStore store(getSpecialFolder(CSIDL_APPDATA) + "Kelvane" + kPathSeparator + "Kelvane.ini");
    text = store.read(kSettingsSection, kLastBrightnessKey);
  } catch (const RuntimeError&) {
    // An unreadable settings file leaves the default.
  }
  if (text.empty()) text = kDefaultLastBrightness;
  const double value = valueOfText(text);
  if (!(value >= 1 && value <= kMaxBrightness)) return static_cast<std::int32_t>(valueOfText(kDefaultLastBrightness));
  return toWholeNumber(value);
}
}  // namespace

LightBox::LightBox(Sinks sinks)
    : sinks_(std::move(sinks)),
      // Nobody waits at a driver: notices go to the client's log.
      host_(std::make_unique<UnattendedHost>([this](const std::string& text) {
        if (sinks_.notice) sinks_.notice(text);
      })),
      errors_(*host_, log_) {
  host_->setErrorHandler(&errors_);
  if (sinks_.statusLine) log_.setLineSink(sinks_.statusLine);
}

LightBox::~LightBox() = default;

SimulatedHid& LightBox::simulator() {
  if (!simulator_) simulator_ = std::make_unique<SimulatedHid>();
  return *simulator_;
}

std::string LightBox::connect(bool simulation) {
  disconnect();
  HidPlatform* platform = nullptr;
  if (simulation) {
    platform = &simulator();
  } else {
    systemHid_ = std::make_unique<HidrawPlatform>();
    platform = systemHid_.get();
  }
  engine_ = std::make_unique<PanelEngine>(*platform, log_, errors_);
  DeviceLink& link = engine_->link();
  link.dimmerVendorId = kDefaultVendorId;
  link.dimmerProductId = kDefaultProductId;
  if (simulation) link.readTimeoutMs = kSimulatedReadTimeoutMs;
  Trap trap(errors_, kModule, "Connect");
  // The window's product-ID file, beside the program (the driver is
  // installed beside the window).
  trap([&] {
    const std::string path = programFolder() + "productid.txt";
    if (fileExists(path))
      link.dimmerProductId = toWholeNumber(valueOfText(readFiletoString(errors_, path)));
  });
  controller_ = std::make_unique<PanelController>(*engine_, errors_);
  std::string why;
  if (!controller_->connect()) {
    why = controller_->failure();
  } else if (!engine_->setStepChange(trap) || trap.left()) {
    why = errors_.lastFailure();
  } else if (engine_->silent() || !readPanel(trap)) {
    why = trap.left() ? errors_.lastFailure() : kSilentAtConnect;
  }
  if (!why.empty()) disconnect();
  return why;
}

bool LightBox::readPanel(Trap& trap) {
  DeviceLink& link = engine_->link();
  const std::uint32_t timeouts = link.readTimeouts();
  std::vector<std::uint8_t> answer;
  if (!trap([&] {
        encodeReadPanelValue(link.commandBytes);
        link.writeReport();
        answer = link.readReport();
      }))
    return false;
  if (link.readTimeouts() != timeouts) return false;
  atConnect_ = {LightBoxView::Phase::AtRest, panelValueOf(answer), ""};
  // A lit panel is the last non-zero brightness there is.
  if (atConnect_.value > 0) lastLit_ = atConnect_.value;
  return true;
}

void LightBox::disconnect() {
  if (controller_) controller_->disconnect();
  controller_.reset();
  engine_.reset();
  systemHid_.reset();
}

std::string LightBox::refusal(double value) {
  if (value >= 0 && value <= kMaxBrightness) return "";
  return "Brightness " + decimalText(value) + " refused: the panel takes 0 to " +
         std::to_string(kMaxBrightness);
}

LightBoxView LightBox::request(double value) {
  if (!connected()) return {LightBoxView::Phase::Alert, 0, "the dimmer is not connected"};
  const std::int32_t v = clampBrightness(toWholeNumber(value));
  if (v > 0) lastLit_ = v;
  return viewAfterAction(controller_->request(v));
}

std::int32_t LightBox::lastLit() const { return lastLit_ ? *lastLit_ : settingsBrightness(); }

LightBoxView LightBox::switchLight(bool on) { return request(on ? lastLit() : 0); }

LightBoxView LightBox::tick() {
  if (!connected()) return {LightBoxView::Phase::Alert, 0, "the dimmer is not connected"};
  controller_->tick();
  return viewAfterAction(true);
}

LightBoxView LightBox::viewAfterAction(bool sent) {
  LightBoxView view;
  view.value = controller_->target();
  switch (controller_->state()) {
    case PanelController::State::Moving: view.phase = LightBoxView::Phase::Moving; break;
    case PanelController::State::AtRest: view.phase = LightBoxView::Phase::AtRest; break;
    case PanelController::State::Failed:
      // The host has already passed the failure on.
      view.phase = LightBoxView::Phase::Alert;
      break;
    case PanelController::State::Disconnected:
    case PanelController::State::Lost:
      view.phase = LightBoxView::Phase::Alert;
      view.message = controller_->failure();
      break;
  }
  if (!sent && view.phase != LightBoxView::Phase::Alert) view.phase = LightBoxView::Phase::Alert;
  return view;
}

void LightBox::setFault(Fault fault, bool on) {
  SimulatedHid& sim = simulator();
  switch (fault) {
    case Fault::Silent: sim.faults().silent = on; break;
    case Fault::HeldElsewhere: sim.faults().heldElsewhere = on; break;
    case Fault::Unplugged:
      if (on) sim.unplug();
      else sim.replug();
      break;
  }
}

bool LightBox::traceSimulator(const std::string& path) { return simulator().openTrace(path); }

}  // namespace kelvane
