#pragma once
// Why a plugged-in dimmer may still not be found: on Linux its hidraw node
// exists but this user may not open it (no udev rule yet). Shared by every
// front end, so the window, the Alpaca server and the INDI driver say the
// same thing.
#include <cstdint>
#include <string>
#include <vector>

namespace kelvane {

// The device nodes of the hidraw entries in sysfs whose HID device carries
// the vendor and product ID (HID_ID in its uevent) and which refuse to open
// for reading and writing with "permission denied". Always empty where
// devices are not hidraw nodes.
std::vector<std::string> deniedDimmerNodes(std::uint16_t vendorId, std::uint16_t productId,
                                           const std::string& sysfsRoot = "/sys/class/hidraw",
                                           const std::string& devRoot = "/dev");

// The notice for those nodes, naming them and the fix; "" for none.
std::string deniedDimmerMessage(const std::vector<std::string>& nodes);

}  // namespace kelvane
