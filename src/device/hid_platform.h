#pragma once
// The small HID platform interface the device link is written against. It is
// shaped after the system calls the link makes (interface enumeration, open,
// attributes, capabilities, write, overlapped read with a bounded wait,
// cancel, close, last error) so that every backend - Windows SetupAPI/hid.dll,
// Linux hidraw and the simulated dimmer - produces the same diagnostic log.
//
// Every call leaves a last-error code behind, read with getLastError() right
// after the call; formatMessage() gives the system's text for a code with its
// line end (CR LF), or an empty text when the system has none.
#include <cstdint>
#include <string>

namespace kelvane {

using Handle = std::intptr_t;
inline constexpr Handle kInvalidHandle = -1;

struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::uint8_t data4[8] = {};
};

// SP_DEVICE_INTERFACE_DATA: cbSize is set to 28 by the caller.
struct DeviceInterfaceData {
  std::uint32_t cbSize = 0;
  Guid interfaceClassGuid;
  std::uint32_t flags = 0;
  std::uintptr_t reserved = 0;  // backend's own cookie for the interface
};

// HIDD_ATTRIBUTES; the IDs are 16-bit fields as the device reports them.
struct HidAttributes {
  std::uint32_t size = 0;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint16_t versionNumber = 0;
};

// HIDP_CAPS, every field 16-bit.
struct HidCaps {
  std::uint16_t usage = 0;
  std::uint16_t usagePage = 0;
  std::uint16_t inputReportByteLength = 0;
  std::uint16_t outputReportByteLength = 0;
  std::uint16_t featureReportByteLength = 0;
  std::uint16_t reserved[17] = {};
  std::uint16_t numberLinkCollectionNodes = 0;
  std::uint16_t numberInputButtonCaps = 0;
  std::uint16_t numberInputValueCaps = 0;
  std::uint16_t numberInputDataIndices = 0;
  std::uint16_t numberOutputButtonCaps = 0;
  std::uint16_t numberOutputValueCaps = 0;
  std::uint16_t numberOutputDataIndices = 0;
  std::uint16_t numberFeatureButtonCaps = 0;
  std::uint16_t numberFeatureValueCaps = 0;
  std::uint16_t numberFeatureDataIndices = 0;
};

// Results of waitForSingleObject.
inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitTimeout = 258;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;

// A few system error codes the backends share (Windows numbering).
namespace syserr {
inline constexpr std::uint32_t Success = 0;
inline constexpr std::uint32_t FileNotFound = 2;
inline constexpr std::uint32_t AccessDenied = 5;
inline constexpr std::uint32_t InvalidHandle = 6;
inline constexpr std::uint32_t GenFailure = 31;
inline constexpr std::uint32_t SharingViolation = 32;
inline constexpr std::uint32_t InvalidParameter = 87;
inline constexpr std::uint32_t InsufficientBuffer = 122;
inline constexpr std::uint32_t NoMoreItems = 259;
inline constexpr std::uint32_t IoPending = 997;
inline constexpr std::uint32_t DeviceNotConnected = 1167;
}  // namespace syserr

class HidPlatform {
 public:
  using DeviceInfoSet = std::intptr_t;
  using PreparsedData = std::intptr_t;
  using EventHandle = std::intptr_t;

  virtual ~HidPlatform() = default;

  // HidD_GetHidGuid.
  virtual Guid getHidGuid() = 0;
  // SetupDiGetClassDevsA(guid, present device interfaces); kInvalidHandle on failure.
  virtual DeviceInfoSet getClassDevs(const Guid& guid) = 0;
  // SetupDiEnumDeviceInterfaces; false at the end of the list (or on failure).
  virtual bool enumDeviceInterfaces(DeviceInfoSet set, const Guid& guid, std::uint32_t index,
                                    DeviceInterfaceData& data) = 0;
  // SetupDiGetDeviceInterfaceDetailA. With buffer == nullptr only the size
  // needed is reported (and the call fails with InsufficientBuffer). With a
  // buffer, its first 4 bytes hold the detail record's cbSize (5) and the
  // NUL-terminated interface path is written from byte 4 on.
  virtual bool getDeviceInterfaceDetail(DeviceInfoSet set, const DeviceInterfaceData& data,
                                        char* buffer, std::uint32_t bufferSize,
                                        std::uint32_t& requiredSize) = 0;
  // SetupDiDestroyDeviceInfoList.
  virtual bool destroyDeviceInfoList(DeviceInfoSet set) = 0;

  // CreateFileA(path, read|write, share read|write, OPEN_EXISTING, plain or
  // overlapped); kInvalidHandle on failure.
  virtual Handle createFile(const std::string& path, bool overlapped) = 0;
  // CloseHandle.
  virtual bool closeHandle(Handle handle) = 0;
  // Claims the dimmer opened as `handle` for this process alone until the
  // handle is closed; false when another process holds it (one owner per
  // dimmer: two programs' commands must never interleave on it).
  virtual bool claimExclusive(Handle /*handle*/) { return true; }

  // HidD_GetAttributes: fills vendor, product and version; leaves the record
  // untouched when it fails.
  virtual bool getAttributes(Handle handle, HidAttributes& attributes) = 0;
  // HidD_GetPreparsedData; 0 on failure.
  virtual PreparsedData getPreparsedData(Handle handle) = 0;
  // HidP_GetCaps.
  virtual bool getCaps(PreparsedData data, HidCaps& caps) = 0;
  // HidP_GetValueCaps for one report type (0 input); count is in/out.
  virtual bool getValueCaps(int reportType, std::uint16_t& count, PreparsedData data) = 0;
  // HidD_FreePreparsedData.
  virtual bool freePreparsedData(PreparsedData data) = 0;

  // CreateEventA(manual reset, initial state); 0 on failure.
  virtual EventHandle createEvent(bool manualReset, bool initialState) = 0;
  // ResetEvent.
  virtual bool resetEvent(EventHandle event) = 0;

  // WriteFile on a plain handle; blocks until the report is written.
  virtual bool writeFile(Handle handle, const std::uint8_t* data, std::uint32_t length,
                         std::uint32_t& written) = 0;
  // ReadFile with an overlapped record whose event is `event`: starts a read
  // of one input report into buffer. The buffer must stay valid until the
  // read has completed (the event is signalled) or cancelIo() has returned.
  virtual bool readFile(Handle handle, std::uint8_t* buffer, std::uint32_t length,
                        EventHandle event) = 0;
  // WaitForSingleObject(event, ms): kWaitObject0, kWaitTimeout or another value.
  virtual std::uint32_t waitForSingleObject(EventHandle event, std::uint32_t milliseconds) = 0;
  // CancelIo: cancels the reads pending on handle. When it returns, no
  // cancelled read will write into its buffer any more.
  virtual bool cancelIo(Handle handle) = 0;

  // The last-error code left by the preceding call.
  virtual std::uint32_t getLastError() = 0;
  // FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM) into a buffer of maxChars
  // characters: the text with its line end, empty when the code is unknown.
  virtual std::string formatMessage(std::uint32_t code, std::uint32_t maxChars) = 0;
};

}  // namespace kelvane
