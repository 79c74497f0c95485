#include "panel/panel_controller.h"

#include "device/protocol.h"
#include "support/error_handler.h"

namespace kelvane {

namespace {
constexpr const char* kModule = "PanelController";
constexpr const char* kNotFound = kDimmerNotFoundText;
constexpr const char* kBusy = kDimmerInUseText;
constexpr const char* kSilent = kDimmerSilentText;
}  // namespace

const char* toString(PanelController::State state) {
  switch (state) {
    case PanelController::State::Disconnected: return "disconnected";
    case PanelController::State::Moving: return "moving";
    case PanelController::State::AtRest: return "at rest";
    case PanelController::State::Lost: return "lost";
    case PanelController::State::Failed: return "failed";
  }
  return "";
}

PanelController::PanelController(PanelEngine& engine, ErrorHandler& errors)
    : engine_(engine), errors_(errors) {}

void PanelController::fail(State state, std::string why) {
  state_ = state;
  failure_ = std::move(why);
}

bool PanelController::connect() {
  engine_.settle();
  Trap trap(errors_, kModule, "Connect");
  if (!engine_.search(trap)) {
    fail(State::Failed, errors_.lastFailure());
    return false;
  }
  if (!engine_.detected()) {
    fail(State::Disconnected, engine_.busy() ? kBusy : kNotFound);
    return false;
  }
  failure_.clear();
  if (state_ == State::Disconnected || state_ == State::Lost) state_ = State::AtRest;
  return true;
}

void PanelController::disconnect() {
  Trap trap(errors_, kModule, "Disconnect");
  engine_.close(trap);
  engine_.link().deviceDetected = false;
  state_ = State::Disconnected;
}

bool PanelController::request(std::int32_t value) {
  // A request is a new action: a dimmer that fell silent earlier is
  // searched for again.
  engine_.settle();
  target_ = clampBrightness(value);
  stoppedShort_ = false;
  Trap trap(errors_, kModule, "Request");
  if (!engine_.sendBrightness(trap, [this] { return target_; })) {
    fail(State::Failed, errors_.lastFailure());
    return false;
  }
  if (engine_.silent()) {
    fail(State::Lost, kSilent);
    return false;
  }
  if (!engine_.detected()) {
    fail(State::Disconnected, engine_.busy() ? kBusy : kNotFound);
    return false;
  }
  failure_.clear();
  state_ = State::Moving;
  return true;
}

void PanelController::tick() {
  if (state_ != State::Moving) return;
  Trap trap(errors_, kModule, "CheckPanel");
  const MonitorResult r = engine_.monitorStep(trap, [this] { return static_cast<double>(target_); });
  const bool stoppedShortBefore = stoppedShort_;
  stoppedShort_ = false;
  switch (r.outcome) {
    case MonitorOutcome::Left:
      fail(State::Failed, errors_.lastFailure());
      return;
    case MonitorOutcome::Lost:
      fail(State::Lost, kSilent);
      return;
    case MonitorOutcome::AtRest:
      state_ = State::AtRest;
      return;
    case MonitorOutcome::Found:
    case MonitorOutcome::Moving:
    case MonitorOutcome::Undecided:
      return;
    case MonitorOutcome::Mismatch:
      if (engine_.silent() || !engine_.detected()) {
        fail(State::Lost, kSilent);
        return;
      }
      if (!stoppedShortBefore) {
        stoppedShort_ = true;
        return;
      }
      if (!engine_.sendBrightness(trap, [this] { return target_; })) {
        fail(State::Failed, errors_.lastFailure());
        return;
      }
      if (engine_.silent() || !engine_.detected()) fail(State::Lost, kSilent);
      return;
  }
}

}  // namespace kelvane
