#pragma once
// Drives a requested brightness to rest without a window: what the Alpaca
// server without a desktop and the INDI driver use. The caller owns the
// clock: it calls tick() every kMonitorIntervalMs while watching() is true,
// and nothing while the panel rests.
#include <cstdint>
#include <string>

#include "panel/panel_engine.h"

namespace kelvane {

class ErrorHandler;

// The link's failures in words for a remote client; every front end without
// a window says them alike.
inline constexpr const char* kDimmerNotFoundText =
    "dimmer not found: check that it is plugged into power and USB";
inline constexpr const char* kDimmerInUseText =
    "the dimmer is in use by another program (a Kelvane window, server or INDI driver); close "
    "that program first";
inline constexpr const char* kDimmerSilentText =
    "the dimmer stopped answering (no answer within the read time-out); it is searched for "
    "again on the next request";

class PanelController {
 public:
  enum class State {
    Disconnected,  // no dimmer open
    Moving,        // a request is on its way; watching
    AtRest,        // the panel rests at the last request
    Lost,          // the dimmer stopped answering or went away
    Failed,        // a run-time failure ended the last operation (see failure())
  };

  PanelController(PanelEngine& engine, ErrorHandler& errors);

  // Searches for the dimmer (again); true when it is open.
  bool connect();
  // Closes the handles; the panel keeps its light.
  void disconnect();
  bool connected() const { return engine_.detected(); }

  // Sends a brightness (the caller has checked 0..1023) and starts watching.
  // Searches first when no dimmer is open. False when nothing could be sent.
  bool request(std::int32_t value);
  // One monitor step; re-sends when the panel came to rest elsewhere.
  void tick();

  bool watching() const { return state_ == State::Moving; }
  State state() const { return state_; }
  std::int32_t target() const { return target_; }
  const PanelReading& reading() const { return engine_.lastReading(); }
  // What went wrong last, in words for a client; empty when all is well.
  const std::string& failure() const { return failure_; }

 private:
  void fail(State state, std::string why);

  PanelEngine& engine_;
  ErrorHandler& errors_;
  State state_ = State::Disconnected;
  std::int32_t target_ = 0;
  // A tick found the panel still elsewhere. The value is read before the
  // motion, so a panel that arrives between the two reads looks stopped
  // short: only a second such tick sends again.
  bool stoppedShort_ = false;
  std::string failure_;
};

const char* toString(PanelController::State state);

}  // namespace kelvane
