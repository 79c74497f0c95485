#pragma once
// The link to the dimmer: discovery by vendor and product ID, the two handles
// (plain for writes, overlapped for bounded reads), report transfer and the
// diagnostic log that follows every platform call. Written once over
// HidPlatform; every backend produces the same log lines.
#include <cstdint>
#include <string>
#include <vector>

#include "device/hid_platform.h"
#include "device/protocol.h"

namespace kelvane {

class StatusLog;
class ErrorHandler;

inline constexpr std::int32_t kDefaultVendorId = 1240;     // 04D8 hex
inline constexpr std::int32_t kDefaultProductId = -2607;   // F5D1 hex, read as signed
inline constexpr std::uint32_t kReadTimeoutMs = 6000;

// Hex text: uppercase digits without leading zeros.
std::string hexText(std::uint32_t value);
// Two-digit uppercase hex.
std::string hex2(std::uint8_t value);

class DeviceLink {
 public:
  DeviceLink(HidPlatform& platform, StatusLog& log, ErrorHandler& errors);

  // FindTheHid: True when the dimmer was found and both handles and the read
  // event are ready. Callers store the result in deviceDetected.
  bool findTheHid();
  void getDeviceCapabilities();
  void prepareForOverlappedTransfer();
  // The closing half of ShutDown: both handles, each logged.
  void closeHandles();

  void displayResultOfAPICall(const std::string& functionName);
  std::string getErrorString(std::int32_t lastError);

  // Sends commandBytes as one output report.
  void writeReport();
  // Waits at most readTimeoutMs for one input report; zeros after a time-out.
  std::vector<std::uint8_t> readReport();

  // How many reads have run out their bound since the link was made; callers
  // compare it before and after an exchange to learn that the dimmer fell
  // silent.
  std::uint32_t readTimeouts() const { return readTimeouts_; }

  bool hidHandleOpen() const { return hidHandleOpen_; }
  bool readHandleOpen() const { return readHandleOpen_; }
  HidPlatform& platform() { return platform_; }

  // Device-link state.
  bool deviceDetected = false;
  Handle hidHandle = kInvalidHandle;
  Handle readHandle = kInvalidHandle;
  std::string devicePath;
  HidAttributes deviceAttributes;
  HidCaps deviceCaps;
  HidPlatform::EventHandle readEvent = 0;
  std::int32_t dimmerVendorId = 0;
  std::int32_t dimmerProductId = 0;
  // The last search found the dimmer, but another process owns it.
  bool dimmerBusy = false;
  CommandBytes commandBytes{};
  // The bound of one read; 6000 ms in the program, shorter in tests.
  std::uint32_t readTimeoutMs = kReadTimeoutMs;

 private:
  void closeHid(const char* logName);
  void closeRead(const char* logName);

  HidPlatform& platform_;
  StatusLog& log_;
  ErrorHandler& errors_;
  bool hidHandleOpen_ = false;
  bool readHandleOpen_ = false;
  std::uint32_t readTimeouts_ = 0;
};

}  // namespace kelvane
