#include "device/device_link.h"

#include <cstdio>
#include <cstring>

#include "support/error_handler.h"
#include "support/status_log.h"

namespace kelvane {

namespace {
constexpr const char* kModule = "frmMDI";
constexpr std::uint32_t kFormatBufferChars = 128;
}  // namespace

std::string hexText(std::uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%X", value);
  return buffer;
}

std::string hex2(std::uint8_t value) {
  char buffer[4];
  std::snprintf(buffer, sizeof buffer, "%02X", value);
  return buffer;
}

static std::string handleText(Handle h) {
  return hexText(static_cast<std::uint32_t>(static_cast<std::uintptr_t>(h)));
}

DeviceLink::DeviceLink(HidPlatform& platform, StatusLog& log, ErrorHandler& errors)
    : platform_(platform), log_(log), errors_(errors) {}

std::string DeviceLink::getErrorString(std::int32_t lastError) {
  std::string result;
  Trap trap(errors_, kModule, "GetErrorString");
  trap([&] {
    const std::string text =
        platform_.formatMessage(static_cast<std::uint32_t>(lastError), kFormatBufferChars);
    if (text.size() > 2) result = text.substr(0, text.size() - 2);
  });
  return result;
}

void DeviceLink::displayResultOfAPICall(const std::string& functionName) {
  // Nothing of this is seen while the log is off; skipping the system's
  // message lookup keeps the report exchange cheap.
  if (!log_.showStatus()) return;
  Trap trap(errors_, kModule, "DisplayResultOfAPICall");
  std::string text;
  if (!trap([&] { log_.message(""); })) return;
  if (!trap([&] { text = getErrorString(static_cast<std::int32_t>(platform_.getLastError())); })) return;
  if (!trap([&] { log_.message(functionName); })) return;
  trap([&] { log_.message("  Result = " + text); });
}

bool DeviceLink::findTheHid() {
  bool result = false;
  Trap trap(errors_, kModule, "FindTheHid");
  bool lastDevice = false;
  Guid guid;
  HidPlatform::DeviceInfoSet infoSet = kInvalidHandle;

  if (!trap([&] { lastDevice = false; deviceDetected = false; dimmerBusy = false; })) return result;
  // Handles left open by a failed wait would be overwritten below and leak;
  // close them first so a discovery never leaves more than the dimmer's two.
  if (hidHandleOpen_ && !trap([&] { closeHid("CloseHandle (HIDHandle)"); })) return result;
  if (readHandleOpen_ && !trap([&] { closeRead("CloseHandle (ReadHandle)"); })) return result;
  if (!trap([&] {
        guid = platform_.getHidGuid();
        displayResultOfAPICall("GetHidGuid");
      }))
    return result;
  if (!trap([&] {
        std::string text = hexText(guid.data1) + "-" + hexText(guid.data2) + "-" +
                           hexText(guid.data3) + "-";
        for (std::uint8_t b : guid.data4) text += hex2(b) + " ";
        log_.message("  GUID for system HIDs: " + text);
      }))
    return result;
  if (!trap([&] {
        infoSet = platform_.getClassDevs(guid);
        displayResultOfAPICall("SetupDiClassDevs");
      }))
    return result;

  for (std::uint32_t memberIndex = 0; !lastDevice && !deviceDetected; ++memberIndex) {
    DeviceInterfaceData data;
    bool enumerated = false;
    if (!trap([&] {
          data.cbSize = 28;
          enumerated = platform_.enumDeviceInterfaces(infoSet, guid, memberIndex, data);
          displayResultOfAPICall("SetupDiEnumDeviceInterfaces");
          if (!enumerated) lastDevice = true;
        }))
      return result;
    if (!enumerated) break;

    std::uint32_t needed = 0;
    std::vector<char> detail;
    bool attributesOk = false;
    if (!trap([&] {
          log_.message("  DeviceInfoSet for device #" + std::to_string(memberIndex) + ": ");
          log_.message("  cbSize = " + std::to_string(data.cbSize));
          log_.message("  InterfaceClassGuid.Data1 = " + hexText(data.interfaceClassGuid.data1));
          log_.message("  InterfaceClassGuid.Data2 = " + hexText(data.interfaceClassGuid.data2));
          log_.message("  InterfaceClassGuid.Data3 = " + hexText(data.interfaceClassGuid.data3));
          log_.message("  Flags = " + hexText(data.flags));
        }) ||
        !trap([&] {
          platform_.getDeviceInterfaceDetail(infoSet, data, nullptr, 0, needed);
          displayResultOfAPICall("SetupDiGetDeviceInterfaceDetail");
          log_.message("  (OK to say too small)");
          log_.message("  Required buffer size for the data: " + std::to_string(needed));
        }) ||
        !trap([&] {
          detail.assign(static_cast<std::size_t>(needed) + 1, '\0');
          const std::uint32_t detailSize = 5;
          if (detail.size() >= 4) std::memcpy(detail.data(), &detailSize, 4);
          platform_.getDeviceInterfaceDetail(infoSet, data, detail.data(), needed, needed);
          displayResultOfAPICall(" Result of second call: ");
          log_.message("  MyDeviceInterfaceDetailData.cbSize: " + std::to_string(detailSize));
        }) ||
        !trap([&] {
          devicePath = detail.size() > 4 ? std::string(detail.data() + 4) : std::string();
          log_.message("  Device pathname: ");
          log_.message("    " + devicePath);
        }) ||
        !trap([&] {
          hidHandle = platform_.createFile(devicePath, false);
          hidHandleOpen_ = hidHandle != kInvalidHandle;
          displayResultOfAPICall("CreateFile");
          log_.message("  Returned handle: " + handleText(hidHandle) + "h");
        }) ||
        !trap([&] {
          deviceAttributes.size = 12;
          attributesOk = platform_.getAttributes(hidHandle, deviceAttributes);
          displayResultOfAPICall("HidD_GetAttributes");
          log_.message(attributesOk ? "  HIDD_ATTRIBUTES structure filled without error."
                          : "  Error in filling HIDD_ATTRIBUTES structure.");
          log_.message("  Structure size: " + std::to_string(deviceAttributes.size));
          log_.message("  Vendor ID: " + hexText(deviceAttributes.vendorId));
          log_.message("  Product ID: " + hexText(deviceAttributes.productId));
          log_.message("  Version Number: " + hexText(deviceAttributes.versionNumber));
        }) ||
        !trap([&] {
          const std::int32_t vendor = static_cast<std::int16_t>(deviceAttributes.vendorId);
          const std::int32_t product = static_cast<std::int16_t>(deviceAttributes.productId);
          // A failed query leaves the IDs of the last interface read in the
          // record; matching on those would "find" a device we cannot talk to.
          if (attributesOk && vendor == dimmerVendorId && product == dimmerProductId) {
            log_.message("  My device detected");
            deviceDetected = platform_.claimExclusive(hidHandle);
            if (!deviceDetected) {
              // Another program drives it: leave it alone rather than
              // interleave commands with it.
              displayResultOfAPICall("ClaimExclusive");
              log_.message("  The dimmer is in use by another program");
              dimmerBusy = true;
              lastDevice = true;
              closeHid("CloseHandle");
            }
          } else {
            deviceDetected = false;
            closeHid("CloseHandle");
          }
        }))
      return result;
  }

  if (!trap([&] {
        platform_.destroyDeviceInfoList(infoSet);
        displayResultOfAPICall("DestroyDeviceInfoList");
      }))
    return result;

  if (deviceDetected) {
    result = true;
    if (!trap([&] { getDeviceCapabilities(); })) return result;
    if (!trap([&] {
          readHandle = platform_.createFile(devicePath, true);
          readHandleOpen_ = readHandle != kInvalidHandle;
          displayResultOfAPICall("CreateFile, ReadHandle");
          log_.message("  Returned handle: " + handleText(readHandle) + "h");
        }))
      return result;
    trap([&] { prepareForOverlappedTransfer(); });
  } else {
    trap([&] { log_.message(" Device not found."); });
  }
  return result;
}

void DeviceLink::getDeviceCapabilities() {
  Trap trap(errors_, kModule, "GetDeviceCapabilities");
  HidPlatform::PreparsedData preparsed = 0;
  if (!trap([&] {
        preparsed = platform_.getPreparsedData(hidHandle);
        displayResultOfAPICall("HidD_GetPreparsedData");
      }))
    return;
  if (!trap([&] {
        platform_.getCaps(preparsed, deviceCaps);
        displayResultOfAPICall("HidP_GetCaps");
      }))
    return;
  if (!trap([&] {
        const HidCaps& c = deviceCaps;
        log_.message("  Usage: " + hexText(c.usage));
        log_.message("  Usage Page: " + hexText(c.usagePage));
        log_.message("  Input Report Byte Length: " + std::to_string(c.inputReportByteLength));
        log_.message("  Output Report Byte Length: " + std::to_string(c.outputReportByteLength));
        log_.message("  Feature Report Byte Length: " + std::to_string(c.featureReportByteLength));
        log_.message("  Number of Link Collection Nodes: " + std::to_string(c.numberLinkCollectionNodes));
        log_.message("  Number of Input Button Caps: " + std::to_string(c.numberInputButtonCaps));
        log_.message("  Number of Input Value Caps: " + std::to_string(c.numberInputValueCaps));
        log_.message("  Number of Input Data Indices: " + std::to_string(c.numberInputDataIndices));
        log_.message("  Number of Output Button Caps: " + std::to_string(c.numberOutputButtonCaps));
        log_.message("  Number of Output Value Caps: " + std::to_string(c.numberOutputValueCaps));
        log_.message("  Number of Output Data Indices: " + std::to_string(c.numberOutputDataIndices));
        log_.message("  Number of Feature Button Caps: " + std::to_string(c.numberFeatureButtonCaps));
        log_.message("  Number of Feature Value Caps: " + std::to_string(c.numberFeatureValueCaps));
        log_.message("  Number of Feature Data Indices: " + std::to_string(c.numberFeatureDataIndices));
      }))
    return;
  if (!trap([&] {
        std::uint16_t count = deviceCaps.numberInputValueCaps;
        platform_.getValueCaps(0, count, preparsed);
        displayResultOfAPICall("HidP_GetValueCaps");
      }))
    return;
  trap([&] {
    platform_.freePreparsedData(preparsed);
    displayResultOfAPICall("HidD_FreePreparsedData");
  });
}

void DeviceLink::prepareForOverlappedTransfer() {
  Trap trap(errors_, kModule, "PrepareForOverlappedTransfer");
  if (!trap([&] {
        if (readEvent == 0) readEvent = platform_.createEvent(true, true);
      }))
    return;
  trap([&] { displayResultOfAPICall("CreateEvent"); });
}

void DeviceLink::closeHid(const char* logName) {
  // A handle that a time-out already closed is not closed again, and its old
  // value is never handed to the system; the log entry is written all the same.
  if (hidHandleOpen_) {
    platform_.closeHandle(hidHandle);
    hidHandleOpen_ = false;
  }
  displayResultOfAPICall(logName);
}

void DeviceLink::closeRead(const char* logName) {
  if (readHandleOpen_) {
    platform_.closeHandle(readHandle);
    readHandleOpen_ = false;
  }
  displayResultOfAPICall(logName);
}

void DeviceLink::closeHandles() {
  Trap trap(errors_, kModule, "ShutDown");
  if (!trap([&] { closeHid("CloseHandle (HIDHandle)"); })) return;
  trap([&] { closeRead("CloseHandle (ReadHandle)"); });
}

void DeviceLink::writeReport() {
  Trap trap(errors_, kModule, "WriteReport");
  std::vector<std::uint8_t> report;
  std::uint32_t written = 0;
  if (!trap([&] { report.assign(deviceCaps.outputReportByteLength, 0); })) return;
  if (!trap([&] { fillOutputReport(report, commandBytes); })) return;
  if (!trap([&] {
        written = 0;
        platform_.writeFile(hidHandleOpen_ ? hidHandle : kInvalidHandle, report.data(),
                            static_cast<std::uint32_t>(report.size()), written);
        displayResultOfAPICall("WriteFile");
      }))
    return;
  trap([&] {
    if (!log_.showStatus()) return;
    log_.message(" OutputReportByteLength = " + std::to_string(report.size()));
    log_.message(" NumberOfBytesWritten = " + std::to_string(written));
    log_.message(" Report ID: " + std::to_string(report.empty() ? 0 : report[0]));
    log_.message(" Report Data:");
    for (std::size_t k = 1; k < report.size(); ++k) log_.message(hexText(report[k]).insert(0, 1, ' '));
  });
}

std::vector<std::uint8_t> DeviceLink::readReport() {
  std::vector<std::uint8_t> result;
  Trap trap(errors_, kModule, "ReadReport");
  std::vector<std::uint8_t> buffer;
  std::uint32_t waitResult = 0;
  // The read fills buffer until it completes or is cancelled. Leaving early
  // on a trap answer must not let it outlive the buffer (declared after
  // buffer, so this runs first).
  bool readInFlight = false;
  struct CancelOnExit {
    DeviceLink& link;
    bool& inFlight;
    ~CancelOnExit() {
      if (inFlight && link.readHandleOpen_) link.platform_.cancelIo(link.readHandle);
    }
  } cancelOnExit{*this, readInFlight};
  if (!trap([&] { buffer.assign(deviceCaps.inputReportByteLength, 0); })) return result;
  if (!trap([&] {
        readInFlight = readHandleOpen_;
        platform_.readFile(readHandleOpen_ ? readHandle : kInvalidHandle, buffer.data(),
                           static_cast<std::uint32_t>(buffer.size()), readEvent);
        displayResultOfAPICall("ReadFile");
        log_.message("waiting for ReadFile");
      }))
    return result;
  if (!trap([&] {
        waitResult = platform_.waitForSingleObject(readEvent, readTimeoutMs);
        displayResultOfAPICall("WaitForSingleObject");
      }))
    return result;
  if (!trap([&] {
        if (waitResult == kWaitObject0) {
          readInFlight = false;
          log_.message("ReadFile completed successfully.");
        } else if (waitResult == kWaitTimeout) {
          log_.message("Readfile timeout");
          if (readHandleOpen_) platform_.cancelIo(readHandle);
          readInFlight = false;
          log_.message("************ReadFile timeout*************");
          log_.message("CancelIO");
          displayResultOfAPICall("CancelIo");
          closeHid("CloseHandle (HIDHandle)");
          closeRead("CloseHandle (ReadHandle)");
          deviceDetected = false;
          ++readTimeouts_;
        } else {
          log_.message("Readfile undefined error");
          // The handles stay open; the read must not outlive its buffer.
          if (readHandleOpen_) platform_.cancelIo(readHandle);
          readInFlight = false;
          deviceDetected = false;
        }
      }))
    return result;
  if (!trap([&] {
        log_.message(" Report ID: " + std::to_string(buffer.empty() ? 0 : buffer[0]));
        log_.message(" Report Data:");
        log_.message("Next Read");
      }))
    return result;
  if (!trap([&] { result = buffer; })) return result;
  if (!trap([&] {
        if (!log_.showStatus()) return;
        for (std::size_t k = 1; k < result.size(); ++k) {
          const std::string two = hex2(result[k]);
          log_.message(std::string(two).insert(0, 1, ' '));
          log_.message("Result: " + two);
        }
      }))
    return result;
  trap([&] {
    platform_.resetEvent(readEvent);
    displayResultOfAPICall("ResetEvent");
  });
  return result;
}

}  // namespace kelvane
