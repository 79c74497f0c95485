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
  NoDevice,  // no dimmer: nothing asked, keep watching
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
  bool sendBrightness(Trap& trap, const std::function<std::int32_t()>& value);

  // One step of the panel monitor: ReadPanelValue, a pass of the event
  // queue, ReadMotion, and the decision against `requested()`. On Mismatch
  // the "does not match" line is already logged; the caller sends again.
  MonitorResult monitorStep(Trap& trap, const std::function<double()>& requested);

  // SetStepChange, sent once after the dimmer was first found. When the
  // dimmer is silent at that moment it is sent after the next search that
  // finds it instead.
  bool setStepChange(Trap& trap);

  // A search outside a send (start-up's second look, a client's connect).
  // Does nothing while the dimmer is known to be silent (see settle()).
  bool search(Trap& trap);

  // Closes both handles, each logged.
  void close(Trap& trap);

  // The last value sent with SetPanelValue, and the last reading.
  std::int32_t lastSent() const { return lastSent_; }
  const PanelReading& lastReading() const { return lastReading_; }

  // A dimmer that stops answering costs one read bound, not one per
  // exchange: once a read timed out, the rest of that burst of work neither
  // searches nor waits again. The caller ends the burst with settle() when
  // it is idle again (the window: its event loop about to block; a server:
  // the next request).
  bool silent() const { return silent_; }
  void settle() { silent_ = false; }

 private:
  // One write and read of the command bytes as they stand; while silent it
  // is skipped and answers the zeros a timed-out read leaves.
  std::vector<std::uint8_t> exchange();
  void noteTimeouts(std::uint32_t before);
  void logAnswer(const std::vector<std::uint8_t>& answer);
  bool searchNow();

  DeviceLink link_;
  StatusLog& log_;
  PanelListener* listener_ = nullptr;
  std::function<void()> eventPass_;
  std::int32_t lastSent_ = 0;
  PanelReading lastReading_;
  bool silent_ = false;
  bool stepChangePending_ = false;
};

}  // namespace kelvane
