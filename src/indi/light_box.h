#pragma once
// The INDI driver's device half, free of libindi: which dimmer to open (the
// system's hidraw nodes or the built-in simulated one), the panel engine and
// its controller, a Host that never waits for a person, the brightness the
// light comes back on with, and the faults a test may inject into the
// simulated dimmer. indi_kelvane.cpp maps it onto INDI properties.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "device/hid_platform.h"
#include "panel/panel_controller.h"
#include "support/error_handler.h"
#include "support/unattended_host.h"
#include "support/host.h"
#include "support/status_log.h"

namespace kelvane {

class SimulatedHid;

// A read waits this long for the simulated dimmer, which answers at once or
// never: a simulated silence costs a second, not the real dimmer's six.
inline constexpr std::uint32_t kSimulatedReadTimeoutMs = 1000;

// What a client sees of the panel after an action or a monitor tick.
struct LightBoxView {
  enum class Phase { Idle, Moving, AtRest, Alert };
  Phase phase = Phase::Idle;
  // The panel's reading while it moves, else the request; a brightness kept
  // while the light is off shows as asked.
  std::int32_t value = 0;
  bool lit = false;   // the light is switched on
  bool kept = false;  // the light is off: the value waits for the next On
  std::string message;  // why, when Alert
};

class LightBox {
 public:
  struct Sinks {
    std::function<void(const std::string&)> debug;   // one line per exchange with the dimmer
    std::function<void(const std::string&)> notice;  // what would be a dialog
  };
  explicit LightBox(Sinks sinks);
  ~LightBox();

  // The debug lines are produced only while someone reads them.
  void setDebug(bool on) { debug_ = on; }

  // Opens the dimmer: the simulated one when `simulation`. "" when open,
  // otherwise why not, for the client.
  std::string connect(bool simulation);
  void disconnect();
  bool connected() const { return controller_ != nullptr; }
  // What the panel held when connect() opened it.
  const LightBoxView& atConnect() const { return atConnect_; }

  // Why a brightness from a client is refused ("" when it is not): outside
  // 0..1023 nothing is sent and the old value stays.
  static std::string refusal(double value);
  // A brightness that refusal() let through; fractions are rounded as the
  // window rounds typed values. Sent while the light is on (0 switches it
  // off); while it is off only kept for the next On: nothing but On lights
  // the panel.
  LightBoxView request(double value);
  // On: `preset` when it is non-zero (the current filter's), else the last
  // non-zero brightness of this run, at first the window's last brightness
  // from the settings file. Off: 0.
  LightBoxView switchLight(bool on, std::int32_t preset = 0);
  // One monitor step while watching().
  LightBoxView tick();
  bool watching() const { return controller_ && controller_->watching(); }
  bool lit() const { return on_; }
  std::int32_t lastLit() const;

  // The simulated dimmer, kept for the driver's life so that it holds its
  // light across connections; faults may be set before it is first opened.
  enum class Fault { Silent, Unplugged, HeldElsewhere };
  void setFault(Fault fault, bool on);
  // Appends every report of the simulated dimmer to a file.
  bool traceSimulator(const std::string& path);

 private:
  class DebugLines;
  SimulatedHid& simulator();
  LightBoxView send(std::int32_t value);
  LightBoxView viewAfterAction(bool sent);
  // One ReadPanelValue, as the monitor asks it; false when the dimmer did
  // not answer.
  bool readPanel(Trap& trap);

  Sinks sinks_;
  std::unique_ptr<UnattendedHost> host_;
  StatusLog log_;
  ErrorHandler errors_;
  std::unique_ptr<SimulatedHid> simulator_;
  std::unique_ptr<HidPlatform> systemHid_;
  std::unique_ptr<PanelEngine> engine_;
  std::unique_ptr<PanelController> controller_;
  std::unique_ptr<DebugLines> debugLines_;
  bool debug_ = false;
  bool on_ = false;
  std::int32_t panel_ = 0;  // the panel's last reading
  std::optional<std::int32_t> lastLit_;
  LightBoxView atConnect_;
};

}  // namespace kelvane
