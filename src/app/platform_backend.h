#pragma once
// The HID backend of the system the program runs on.
#include <memory>

#include "device/hid_platform.h"

namespace kelvane {
std::unique_ptr<HidPlatform> makeSystemHidPlatform();
}
