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

// The driver's debug log: one line per exchange, in words, instead of the
// window's status lines (a line per byte, named after the Windows calls).
class LightBox::DebugLines final : public PanelListener {
 public:
  explicit DebugLines(LightBox& box) : box_(box) {}
  void say(const std::string& line) {
    if (box_.debug_ && box_.sinks_.debug) box_.sinks_.debug(line);
  }
  void exchanged(const CommandBytes& sent, const std::vector<std::uint8_t>& answer, bool answered) override {
    if (box_.debug_) say(describeExchange(sent, answer, answered));
  }
  void linkFound() override { say("Found the dimmer and opened it"); }
  void linkLost() override { say("The dimmer did not answer: closed until the next request"); }

 private:
  LightBox& box_;
};

LightBox::LightBox(Sinks sinks)
    : sinks_(std::move(sinks)),
      // Nobody waits at a driver: notices go to the client's log.
      host_(std::make_unique<UnattendedHost>([this](const std::string& text) {
        if (sinks_.notice) sinks_.notice(text);
      })),
      errors_(*host_, log_) {
  host_->setErrorHandler(&errors_);
  debugLines_ = std::make_unique<DebugLines>(*this);
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
  engine_->setListener(debugLines_.get());
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
  const bool answered = link.readTimeouts() == timeouts;
  debugLines_->exchanged(link.commandBytes, answer, answered);
  if (!answered) return false;
  panel_ = panelValueOf(answer);
  // The panel says whether the light is on; a lit panel is the last
  // non-zero brightness there is.
  on_ = panel_ > 0;
  if (on_) lastLit_ = panel_;
  atConnect_ = {LightBoxView::Phase::AtRest, panel_, on_, false, ""};
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

namespace {
LightBoxView notConnected() { return {LightBoxView::Phase::Alert, 0, false, false, "the dimmer is not connected"}; }
}  // namespace

LightBoxView LightBox::request(double value) {
  if (!connected()) return notConnected();
  const std::int32_t v = clampBrightness(toWholeNumber(value));
  if (v > 0) lastLit_ = v;
  if (!on_) {
    // Nothing is sent; a move down to 0 under way goes on.
    const auto phase = watching() ? LightBoxView::Phase::Moving : LightBoxView::Phase::AtRest;
    return {phase, v, false, true, ""};
  }
  if (v == 0) on_ = false;
  return send(v);
}

std::int32_t LightBox::lastLit() const { return lastLit_ ? *lastLit_ : settingsBrightness(); }

LightBoxView LightBox::switchLight(bool on, std::int32_t preset) {
  if (!connected()) return notConnected();
  on_ = on;
  if (!on) return send(0);
  const std::int32_t v = preset > 0 ? clampBrightness(preset) : lastLit();
  lastLit_ = v;
  return send(v);
}

LightBoxView LightBox::send(std::int32_t value) { return viewAfterAction(controller_->request(value)); }

LightBoxView LightBox::tick() {
  if (!connected()) return notConnected();
  controller_->tick();
  panel_ = controller_->reading().value;
  return viewAfterAction(true);
}

LightBoxView LightBox::viewAfterAction(bool sent) {
  LightBoxView view;
  view.lit = on_;
  view.value = controller_->target();
  switch (controller_->state()) {
    case PanelController::State::Moving:
      view.phase = LightBoxView::Phase::Moving;
      // Where the panel is on its way, as the window's status label shows.
      view.value = panel_;
      break;
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
