#pragma once
// The HID platform on Linux, over the hidraw driver: the interfaces are the
// hidrawN entries of sysfs, a handle is a file descriptor of /dev/hidrawN,
// attributes and capabilities come from the hidraw ioctls and the device's
// report descriptor. The last error is errno and its text is strerror's.
//
// Overlapped reads: an overlapped handle is opened non-blocking; readFile
// records the pending read and tries it at once; waitForSingleObject polls the
// descriptor for at most the given time and completes the read into the
// recorded buffer. A device that has gone (POLLERR, POLLHUP, ENODEV and the
// like) never completes its read: the wait ends at once as a time-out, with
// the reason as the last error, rather than freezing the caller for its
// whole bound over a dimmer that was unplugged.
//
// Reports are handed over in the Windows layout: a device that does not
// number its reports gets report ID 0 in front of every input report read.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "device/hid_descriptor.h"
#include "device/hid_platform.h"

namespace kelvane {

class HidrawPlatform final : public HidPlatform {
 public:
  explicit HidrawPlatform(std::string sysfsRoot = "/sys/class/hidraw", std::string devRoot = "/dev");

  Guid getHidGuid() override;
  DeviceInfoSet getClassDevs(const Guid& guid) override;
  bool enumDeviceInterfaces(DeviceInfoSet set, const Guid& guid, std::uint32_t index,
                            DeviceInterfaceData& data) override;
  bool getDeviceInterfaceDetail(DeviceInfoSet set, const DeviceInterfaceData& data, char* buffer,
                                std::uint32_t bufferSize, std::uint32_t& requiredSize) override;
  bool destroyDeviceInfoList(DeviceInfoSet set) override;
  Handle createFile(const std::string& path, bool overlapped) override;
  bool closeHandle(Handle handle) override;
  bool claimExclusive(Handle handle) override;
  bool getAttributes(Handle handle, HidAttributes& attributes) override;
  PreparsedData getPreparsedData(Handle handle) override;
  bool getCaps(PreparsedData data, HidCaps& caps) override;
  bool getValueCaps(int reportType, std::uint16_t& count, PreparsedData data) override;
  bool freePreparsedData(PreparsedData data) override;
  EventHandle createEvent(bool manualReset, bool initialState) override;
  bool resetEvent(EventHandle event) override;
  bool writeFile(Handle handle, const std::uint8_t* data, std::uint32_t length,
                 std::uint32_t& written) override;
  bool readFile(Handle handle, std::uint8_t* buffer, std::uint32_t length, EventHandle event) override;
  std::uint32_t waitForSingleObject(EventHandle event, std::uint32_t milliseconds) override;
  bool cancelIo(Handle handle) override;
  std::uint32_t getLastError() override { return lastError_; }
  std::string formatMessage(std::uint32_t code, std::uint32_t maxChars) override;

 private:
  struct OpenFile {
    std::string node;                     // "hidrawN" when opened through devRoot
    bool overlapped = false;
    std::optional<bool> usesReportIds;    // from the descriptor, read once
  };
  struct Event {
    bool manualReset = true;
    bool signalled = false;
    std::uint32_t goneError = 0;  // the read behind it found the device gone
  };
  struct PendingRead {
    Handle handle;
    std::uint8_t* buffer;
    std::uint32_t length;
    EventHandle event;
  };
  enum class ReadOutcome { Completed, WouldBlock, Gone };

  bool fail(int error);
  bool succeed();
  std::optional<HidDescriptorInfo> readDescriptor(int fd);
  bool prependReportId(Handle handle);
  ReadOutcome readInto(const PendingRead& read);
  void forgetReads(Handle handle);
  std::uint16_t versionOf(Handle handle) const;

  std::string sysfsRoot_;
  std::string devRoot_;
  std::uint32_t lastError_ = 0;
  std::intptr_t nextId_ = 1;
  std::map<DeviceInfoSet, std::vector<std::string>> infoSets_;
  std::map<Handle, OpenFile> files_;
  std::map<PreparsedData, HidCaps> preparsed_;
  std::map<EventHandle, Event> events_;
  std::vector<PendingRead> pending_;
  std::vector<std::uint8_t> scratch_;
};

}  // namespace kelvane
