#include "app/platform_backend.h"

#if defined(_WIN32) && __has_include("device/hid_win.h")
#include "device/hid_win.h"
#elif defined(__linux__) && __has_include("device/hidraw_linux.h")
#include "device/hidraw_linux.h"
#else
#include "device/sim_hid.h"
#endif

namespace kelvane {

std::unique_ptr<HidPlatform> makeSystemHidPlatform() {
#if defined(_WIN32) && __has_include("device/hid_win.h")
  return std::make_unique<WinHidPlatform>();
#elif defined(__linux__) && __has_include("device/hidraw_linux.h")
  return std::make_unique<HidrawPlatform>();
#else
  // No system backend yet: an empty simulated bus, so start-up reports that
  // the dimmer cannot be found.
  auto sim = std::make_unique<SimulatedHid>();
  sim->interfaces().clear();
  return sim;
#endif
}

}  // namespace kelvane
