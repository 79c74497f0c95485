#include "device/device_access.h"

#ifdef __linux__
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#endif

namespace kelvane {

#ifdef __linux__
namespace {

// HID_ID=0003:000004D8:0000F5D1 (bus, vendor, product in hex).
bool carriesIds(const std::string& ueventPath, std::uint16_t vendorId, std::uint16_t productId) {
  std::ifstream in(ueventPath);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("HID_ID=", 0) != 0) continue;
    std::istringstream fields(line.substr(7));
    std::string bus, vendor, product;
    if (!std::getline(fields, bus, ':') || !std::getline(fields, vendor, ':') || !std::getline(fields, product))
      return false;
    try {
      return std::stoul(vendor, nullptr, 16) == vendorId && std::stoul(product, nullptr, 16) == productId;
    } catch (const std::exception&) {
      return false;
    }
  }
  return false;
}

}  // namespace
#endif

std::vector<std::string> deniedDimmerNodes(std::uint16_t vendorId, std::uint16_t productId,
                                           const std::string& sysfsRoot, const std::string& devRoot) {
  std::vector<std::string> denied;
#ifdef __linux__
  namespace fs = std::filesystem;
  std::error_code ec;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(sysfsRoot, ec))
    if (entry.path().filename().string().rfind("hidraw", 0) == 0) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (!carriesIds(sysfsRoot + "/" + name + "/device/uevent", vendorId, productId)) continue;
    const std::string node = devRoot + "/" + name;
    // Opening is the only test that counts ACLs, groups and security modules
    // alike; a hidraw open has no effect on the device.
    const int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd >= 0) {
      ::close(fd);
      continue;
    }
    if (errno == EACCES || errno == EPERM) denied.push_back(node);
  }
#else
  (void)vendorId, (void)productId, (void)sysfsRoot, (void)devRoot;
#endif
  return denied;
}

std::string deniedDimmerMessage(const std::vector<std::string>& nodes) {
  if (nodes.empty()) return {};
  std::string list;
  for (std::size_t i = 0; i < nodes.size(); ++i) list += (i == 0 ? "" : i + 1 == nodes.size() ? " and " : ", ") + nodes[i];
  return "The Lumetra Dimmer is plugged in at " + list +
         ", but this user may not open it (permission denied).  Install the Kelvane package, whose udev "
         "rule 70-kelvane.rules gives the user at the computer access to the dimmer, or add the rule "
         "from the README (\"Device access on Linux\" in the help), then unplug the dimmer and plug it "
         "in again.";
}

}  // namespace kelvane
