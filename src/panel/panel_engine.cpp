#include "panel/panel_engine.h"

#include "device/protocol.h"
#include "support/error_handler.h"
#include "support/status_log.h"

namespace kelvane {

PanelEngine::PanelEngine(HidPlatform& platform, StatusLog& log, ErrorHandler& errors)
    : link_(platform, log, errors), log_(log) {}

void PanelEngine::noteTimeouts(std::uint32_t before) {
  if (link_.readTimeouts() == before) return;
  if (!silent_)
    log_.message("The dimmer did not answer: no further search or wait until the next action");
  silent_ = true;
  if (listener_) listener_->linkLost();
}

std::vector<std::uint8_t> PanelEngine::exchange() {
  // What a timed-out read leaves, without waiting for it again.
  if (silent_) return std::vector<std::uint8_t>(link_.deviceCaps.inputReportByteLength, 0);
  const std::uint32_t before = link_.readTimeouts();
  link_.writeReport();
  std::vector<std::uint8_t> answer = link_.readReport();
  if (listener_) listener_->exchanged(link_.commandBytes, answer, link_.readTimeouts() == before);
  noteTimeouts(before);
  return answer;
}

void PanelEngine::logAnswer(const std::vector<std::uint8_t>& answer) {
  if (!log_.showStatus()) return;
  for (std::size_t k = 1; k < answer.size(); ++k) log_.message("Result: " + hex2(answer[k]));
}

bool PanelEngine::searchNow() {
  const bool found = link_.findTheHid();
  link_.deviceDetected = found;
  if (found && listener_) listener_->linkFound();
  return found;
}

bool PanelEngine::search(Trap& trap) {
  return trap([&] {
    if (!link_.deviceDetected && !silent_) searchNow();
  });
}

bool PanelEngine::sendBrightness(Trap& trap, const std::function<std::int32_t()>& value) {
  if (!trap([&] {
        if (!link_.deviceDetected && !silent_) {
          log_.message("Searching for panel");
          searchNow();
        }
      }))
    return false;
  if (!link_.deviceDetected) return true;
  if (stepChangePending_ && !setStepChange(trap)) return false;
  std::int32_t v = 0;
  if (!trap([&] { log_.message("Setting Panel Value"); })) return false;
  if (!trap([&] { v = value(); })) return false;
  if (!trap([&] { encodeSetPanelValue(link_.commandBytes, v); })) return false;
  if (!trap([&] {
        exchange();
        lastSent_ = v;
      }))
    return false;
  if (!trap([&] {
        if (eventPass_) eventPass_();
      }))
    return false;
  if (!trap([&] { log_.message("Executing Panel Change"); })) return false;
  return trap([&] {
    encodeExecutePanelChange(link_.commandBytes);
    exchange();
  });
}

MonitorResult PanelEngine::monitorStep(Trap& trap, const std::function<double()>& requested) {
  MonitorResult result;
  std::vector<std::uint8_t> answer;
  if (!trap([&] { log_.message("Updating Panel Value"); })) return result;
  if (!link_.deviceDetected) {
    result.outcome = MonitorOutcome::NoDevice;
    return result;
  }
  if (!trap([&] {
        encodeReadPanelValue(link_.commandBytes);
        answer = exchange();
      }))
    return result;
  if (!trap([&] {
        if (eventPass_) eventPass_();
      }))
    return result;
  if (!trap([&] { logAnswer(answer); })) return result;
  if (!trap([&] { result.reading.value = panelValueOf(answer); })) return result;
  if (!trap([&] {
        encodeReadMotion(link_.commandBytes);
        answer = exchange();
      }))
    return result;
  if (!trap([&] { logAnswer(answer); })) return result;
  result.outcome = MonitorOutcome::Undecided;
  if (!trap([&] {
        if (movingOf(answer)) {
          result.outcome = MonitorOutcome::Moving;
          result.reading.moving = true;
        } else if (requested() == static_cast<double>(result.reading.value)) {
          result.outcome = MonitorOutcome::AtRest;
        } else {
          result.outcome = MonitorOutcome::Mismatch;
          log_.message(
              "Panel stopped moving, but does not match current setting.  Moving to new position");
        }
      })) {
    result.outcome = MonitorOutcome::Left;
    return result;
  }
  lastReading_ = result.reading;
  if (listener_) listener_->panelRead(result.reading);
  return result;
}

bool PanelEngine::setStepChange(Trap& trap) {
  if (!link_.deviceDetected) {
    // Found but silent at start-up: send it once the dimmer answers again.
    stepChangePending_ = stepChangePending_ || silent_;
    return true;
  }
  if (!trap([&] { log_.message("Setting Step change"); })) return false;
  return trap([&] {
    encodeSetStepChange(link_.commandBytes);
    exchange();
    stepChangePending_ = silent_;
  });
}

void PanelEngine::close(Trap& trap) {
  trap([&] { link_.closeHandles(); });
}

}  // namespace kelvane
