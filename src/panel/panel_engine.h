#pragma once
// The panel engine: everything that talks to the dimmer, free of any window.
// The main window, the Alpaca server and the INDI driver all drive the panel
// through it, so each of them sends the same reports in the same order and
// writes the same status lines.
//
// Two levels:
//  - PanelEngine offers the device half of each operation as steps run under
//    the caller's Trap, so a caller with an event chain of its own (the
//    window) keeps its trap locations and the Retry/Ignore behaviour per
//    statement;
//  - PanelController (panel_controller.h) drives a requested brightness to
//    rest by itself, for callers without a window.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "device/device_link.h"

namespace kelvane {

class ErrorHandler;
class HidPlatform;
class StatusLog;
class Trap;

inline constexpr std::uint32_t kMonitorIntervalMs = 100;

struct PanelReading {
  std::int32_t value = 0;
  bool moving = false;
};

// What a caller may want to see happen on the link; all optional.
class PanelListener {
 public:
  virtual ~PanelListener() = default;
  // After every monitor step that asked the panel.
  virtual void panelRead(const PanelReading& /*reading*/) {}
  // A read ran out its bound: the handles are closed, the dimmer is gone
  // until the next search.
  virtual void linkLost() {}
  // A search found the dimmer and opened it.
  virtual void linkFound() {}
  // After every write-and-read with the dimmer: the command bytes sent and
  // the answer; `answered` false when the read timed out.
  virtual void exchanged(const CommandBytes& /*sent*/, const std::vector<std::uint8_t>& /*answer*/,
                         bool /*answered*/) {}
};

enum class MonitorOutcome {
  Left,      // the caller's trap left the procedure
  Lost,      // no reading: no dimmer open, or it stopped answering; keep watching
  Found,     // no dimmer was open; the step's search found it and sent the
             // request again: keep watching
  Moving,    // the panel reports moving
  AtRest,    // still, at the requested value: stop watching
  Mismatch,  // still, elsewhere: send the request again
  Undecided, // reading the motion failed and the failure was ignored
};

struct MonitorResult {
  MonitorOutcome outcome = MonitorOutcome::Left;
  PanelReading reading;
};

class PanelEngine {
 public:
  PanelEngine(HidPlatform& platform, StatusLog& log, ErrorHandler& errors);

  DeviceLink& link() { return link_; }
  const DeviceLink& link() const { return link_; }
  bool detected() const { return link_.deviceDetected; }
  // The last search found the dimmer held by another process.
  bool busy() const { return link_.dimmerBusy; }

  void setListener(PanelListener* listener) { listener_ = listener; }
  // One pass of the caller's event queue, run between the two exchanges of a
  // send and after the first exchange of a monitor step.
  void setEventPass(std::function<void()> pass) { eventPass_ = std::move(pass); }

  // The device half of a brightness change: search when no dimmer is
  // detected, then SetPanelValue with `value()` (read inside its own step),
  // one pass of the event queue, ExecutePanelChange. False when the trap left.
  // A value that does not reach the dimmer (none found, or it fell silent)
  // stays pending: the next search that finds the dimmer sends it.
  bool sendBrightness(Trap& trap, const std::function<std::int32_t()>& value);

  // One step of the panel monitor: ReadPanelValue, a pass of the event
  // queue, ReadMotion, and the decision against `requested()`. On Mismatch
  // the "does not match" line is already logged; the caller sends again.
  // With no dimmer open the step searches for it instead (not in a burst
  // that already met a silent dimmer, and less often the longer it stays
  // away) and on finding it sends what is pending (Found).
  MonitorResult monitorStep(Trap& trap, const std::function<double()>& requested);

  // SetStepChange, sent once after the dimmer was first found. When the
  // dimmer is silent at that moment it is sent after the next value that
  // reaches it instead.
  bool setStepChange(Trap& trap);

  // A search outside a send (start-up's second look, a client's connect).
  // Does nothing while the dimmer is known to be silent (see settle()). A
  // dimmer found gets what is pending: the step change, then the last value
  // that did not reach it.
  bool search(Trap& trap);

  // Closes both handles, each logged.
  void close(Trap& trap);

  // The last value sent with SetPanelValue, and the last reading.
  std::int32_t lastSent() const { return lastSent_; }
  // A value waits for the dimmer to be found (or to answer) again.
  bool resendPending() const { return resendPending_; }
  const PanelReading& lastReading() const { return lastReading_; }

  // A dimmer that stops answering costs one read bound, not one per
  // exchange: once a read timed out, the rest of that burst of work neither
  // searches nor waits again. The caller ends the burst with settle() when
  // it is idle again (the window: its event loop about to block; a server:
  // the next request).
  // A close's turn-off settles first: it is tried whatever happened before.
  bool silent() const { return silent_; }
  void settle() { silent_ = false; }

  // The longest pause, in monitor steps, between the monitor's searches for
  // a dimmer that stays away (about 3 s at the monitor's pace).
  static constexpr int kMaxSearchGap = 31;

 private:
  // One write and read of the command bytes as they stand; while silent it
  // is skipped and answers the zeros a timed-out read leaves.
  std::vector<std::uint8_t> exchange();
  void noteTimeouts(std::uint32_t before);
  void logAnswer(const std::vector<std::uint8_t>& answer);
  bool searchNow();
  // SetPanelValue, a pass of the queue, ExecutePanelChange.
  bool sendValue(Trap& trap, const std::function<std::int32_t()>& value);
  // After a search found the dimmer: the step change and the value pending.
  bool sendPending(Trap& trap);
  bool monitorSearch(Trap& trap);

  DeviceLink link_;
  StatusLog& log_;
  PanelListener* listener_ = nullptr;
  std::function<void()> eventPass_;
  std::int32_t lastSent_ = 0;
  PanelReading lastReading_;
  bool silent_ = false;
  bool stepChangePending_ = false;
  std::optional<std::int32_t> requested_;
  bool resendPending_ = false;
  // The monitor's searches while the dimmer stays away: steps to let pass
  // before the next one, the present pause, searches that found nothing.
  int searchSkip_ = 0;
  int searchGap_ = 0;
  int searchesMissed_ = 0;
};

}  // namespace kelvane
