#include "panel/panel_engine.h"

#include <algorithm>

#include "device/protocol.h"
#include "support/error_handler.h"
#include "support/status_log.h"

namespace kelvane {

PanelEngine::PanelEngine(HidPlatform& platform, StatusLog& log, ErrorHandler& errors)
    : link_(platform, log, errors), log_(log) {}

void PanelEngine::noteTimeouts(std::uint32_t before) {
  if (link_.readTimeouts() == before) return;
  if (!silent_)
    log_.message("The dimmer did not answer: no further wait until it is searched for again");
  silent_ = true;
  // Where the panel went is unknown now: what was asked goes out again once
  // the dimmer answers.
  resendPending_ = requested_.has_value();
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

bool PanelEngine::sendPending(Trap& trap) {
  if (resendPending_ && requested_) {
    if (!trap([&] { log_.message("Sending the brightness again: " + std::to_string(*requested_)); }))
      return false;
    const std::int32_t value = *requested_;
    if (!sendValue(trap, [value] { return value; })) return false;
  }
  return !stepChangePending_ || setStepChange(trap);
}

bool PanelEngine::search(Trap& trap) {
  bool found = false;
  if (!trap([&] {
        if (!link_.deviceDetected && !silent_) found = searchNow();
      }))
    return false;
  return !found || sendPending(trap);
}

bool PanelEngine::sendValue(Trap& trap, const std::function<std::int32_t()>& value) {
  std::int32_t v = 0;
  const std::uint32_t before = link_.readTimeouts();
  if (!trap([&] { log_.message("Setting Panel Value"); })) return false;
  if (!trap([&] {
        v = value();
        requested_ = v;
        resendPending_ = true;
      }))
    return false;
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
    // Delivered unless the dimmer fell silent on the way, or a request made
    // during the pass of the queue is still waiting.
    if (link_.readTimeouts() == before && !silent_ && requested_ == v) {
      resendPending_ = false;
      searchGap_ = searchSkip_ = searchesMissed_ = 0;
    }
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
  if (!link_.deviceDetected) {
    // Kept for the next search that finds the dimmer.
    return trap([&] {
      requested_ = value();
      resendPending_ = true;
    });
  }
  // The value first, as at start-up: when the dimmer falls silent again, a
  // close's turn-off is what got the one wait.
  if (!sendValue(trap, value)) return false;
  return !stepChangePending_ || setStepChange(trap);
}

bool PanelEngine::monitorSearch(Trap& trap) {
  // A search that finds nothing costs no wait, but its log is long, and a
  // dimmer without power is found and waited for each time: after the first
  // search since the loss, one that does not bring the dimmer back logs one
  // line, and the pause before the next one grows.
  const bool quiet = searchesMissed_ > 0;
  bool found = false;
  if (!trap([&] { log_.message("Searching for panel"); })) return false;
  if (quiet) log_.hold();
  const bool ok = trap([&] { found = searchNow(); }) && (!found || sendPending(trap));
  const bool back = found && !silent_;
  if (quiet) log_.release(back);
  if (!ok) return false;
  if (back) {
    searchGap_ = searchSkip_ = searchesMissed_ = 0;
    return true;
  }
  ++searchesMissed_;
  searchGap_ = std::min(2 * searchGap_ + 1, kMaxSearchGap);
  searchSkip_ = searchGap_;
  if (!quiet) return true;
  return trap([&] {
    log_.message(std::string(found ? " Device found, but it did not answer"
                             : link_.dimmerBusy ? " Device in use by another program"
                                                : " Device not found.") +
                 " (search " + std::to_string(searchesMissed_) + " since the dimmer was lost)");
  });
}

MonitorResult PanelEngine::monitorStep(Trap& trap, const std::function<double()>& requested) {
  MonitorResult result;
  std::vector<std::uint8_t> answer;
  if (!trap([&] { log_.message("Updating Panel Value"); })) return result;
  if (!link_.deviceDetected) {
    if (silent_ || searchSkip_-- > 0) {
      result.outcome = MonitorOutcome::Lost;
      return result;
    }
    if (!monitorSearch(trap)) return result;
    result.outcome = link_.deviceDetected && !silent_ ? MonitorOutcome::Found : MonitorOutcome::Lost;
    return result;
  }
  const std::uint32_t before = link_.readTimeouts();
  // Zeros left by a read that ran out are no reading of the panel.
  const auto lost = [&] {
    if (link_.readTimeouts() == before && link_.deviceDetected) return false;
    result.outcome = MonitorOutcome::Lost;
    return true;
  };
  if (!trap([&] {
        encodeReadPanelValue(link_.commandBytes);
        answer = exchange();
      }))
    return result;
  if (lost()) return result;
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
  if (lost()) return result;
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
