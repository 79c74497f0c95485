#include "app/alpaca_devices.h"

#include "app/frm_mdi.h"
#include "support/error_handler.h"

namespace kelvane {

namespace {
constexpr const char* kNotFound = kDimmerNotFoundText;
constexpr const char* kInUse = kDimmerInUseText;
constexpr const char* kSilent = kDimmerSilentText;

AlpacaFailure linkFailure(const PanelEngine& engine) {
  return engine.busy() ? AlpacaFailure{alpaca::DimmerInUse, kInUse}
                       : AlpacaFailure{alpaca::DimmerNotFound, kNotFound};
}
}  // namespace

CalibratorState restingState(std::int32_t target, const std::optional<std::int32_t>& onRequest) {
  if (target != 0) return CalibratorState::Ready;
  return onRequest == 0 ? CalibratorState::Ready : CalibratorState::Off;
}

// ---- the window ----

WindowCalibrator::WindowCalibrator(FrmMDI& window, ErrorHandler& errors)
    : window_(window), errors_(errors), connected_(window.engine().detected()) {}

AlpacaFailure WindowCalibrator::connect() {
  PanelEngine& engine = window_.engine();
  if (!engine.detected()) {
    UnattendedScope remote(errors_);
    engine.settle();
    Trap trap(errors_, "Alpaca", "Connect");
    engine.search(trap);
    if (!engine.detected()) return linkFailure(engine);
  }
  connected_ = true;
  runFailure_.clear();
  return {};
}

CalibratorState WindowCalibrator::state() const {
  if (!window_.engine().detected() || !runFailure_.empty()) return CalibratorState::Error;
  if (window_.TimerCheckPanel->isActive()) return CalibratorState::NotReady;
  return restingState(window_.brightness(), onRequest_);
}

std::int32_t WindowCalibrator::brightness() const { return window_.engine().lastReading().value; }

AlpacaFailure WindowCalibrator::failure() const {
  if (!runFailure_.empty()) return {alpaca::DriverFailure, runFailure_};
  if (window_.engine().detected()) return {};
  return window_.engine().busy() ? AlpacaFailure{alpaca::DimmerInUse, kInUse}
                                 : AlpacaFailure{alpaca::DimmerSilent, kSilent};
}

AlpacaFailure WindowCalibrator::apply(std::int32_t value) {
  // Exactly what a step button does with its result; a failure on the way
  // is answered to the client instead of waiting for a person.
  UnattendedScope remote(errors_);
  const std::uint64_t failuresBefore = errors_.failureCount();
  window_.setBrightness(value);
  window_.updateBrightness();
  runFailure_ = errors_.failureCount() != failuresBefore ? errors_.lastFailure() : std::string();
  if (!runFailure_.empty()) return {alpaca::DriverFailure, runFailure_};
  if (window_.engine().silent()) return {alpaca::DimmerSilent, kSilent};
  if (!window_.engine().detected()) return linkFailure(window_.engine());
  return {};
}

AlpacaFailure WindowCalibrator::calibratorOn(std::int32_t value) {
  onRequest_ = value;
  return apply(value);
}

AlpacaFailure WindowCalibrator::calibratorOff() {
  onRequest_.reset();
  return apply(0);
}

// ---- the controller ----

HeadlessCalibrator::HeadlessCalibrator(PanelEngine& engine, PanelController& controller,
                                       ErrorHandler& errors,
                                       std::function<void(std::int32_t)> saveBrightness)
    : engine_(engine), controller_(controller), errors_(errors), saveBrightness_(std::move(saveBrightness)) {
  monitor_.setInterval(static_cast<int>(kMonitorIntervalMs));
  QObject::connect(&monitor_, &QTimer::timeout, this, [this] {
    engine_.settle();
    controller_.tick();
    if (!controller_.watching()) monitor_.stop();
  });
}

AlpacaFailure HeadlessCalibrator::connect() {
  if (!controller_.connect()) return failure();
  connected_ = true;
  if (!stepChangeSent_) {
    Trap trap(errors_, "Alpaca", "Connect");
    stepChangeSent_ = engine_.setStepChange(trap);
  }
  return {};
}

void HeadlessCalibrator::disconnect() {
  monitor_.stop();
  if (controller_.connected()) controller_.disconnect();
  connected_ = false;
}

CalibratorState HeadlessCalibrator::state() const {
  switch (controller_.state()) {
    case PanelController::State::Moving: return CalibratorState::NotReady;
    case PanelController::State::AtRest: return restingState(controller_.target(), onRequest_);
    case PanelController::State::Disconnected:
      return connected_ ? CalibratorState::Error : CalibratorState::Off;
    case PanelController::State::Lost:
    case PanelController::State::Failed: return CalibratorState::Error;
  }
  return CalibratorState::Unknown;
}

AlpacaFailure HeadlessCalibrator::failure() const {
  switch (controller_.state()) {
    case PanelController::State::Failed: return {alpaca::DriverFailure, controller_.failure()};
    case PanelController::State::Lost: return {alpaca::DimmerSilent, controller_.failure()};
    case PanelController::State::Disconnected: return linkFailure(engine_);
    default: return {};
  }
}

bool HeadlessCalibrator::request(std::int32_t value) {
  const bool sent = controller_.request(value);
  if (controller_.watching()) monitor_.start();
  return sent;
}

AlpacaFailure HeadlessCalibrator::apply(std::int32_t value) {
  if (!request(value)) return failure();
  if (saveBrightness_) saveBrightness_(value);
  return {};
}

AlpacaFailure HeadlessCalibrator::calibratorOn(std::int32_t value) {
  onRequest_ = value;
  return apply(value);
}

AlpacaFailure HeadlessCalibrator::calibratorOff() {
  onRequest_.reset();
  return apply(0);
}

}  // namespace kelvane
