#pragma once
// The HID backend over the Windows system calls: SetupAPI for the list of HID
// interfaces, hid.dll for attributes and capabilities, kernel32 for handles,
// events and the overlapped read.
//
// The link speaks in the record sizes of the 32-bit system it was first
// written for (interface-data record 28 bytes, detail record 5); this backend
// translates them to the native 64-bit records.
//
// An overlapped read never writes into the caller's buffer directly: the
// system fills a buffer owned here, kept alive with its OVERLAPPED record until
// the read has completed or been cancelled, and the bytes are copied to the
// caller when a wait on the read's event succeeds. A caller that leaves early
// therefore cannot have its released memory written by a late completion.
#include <cstdint>
#include <memory>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "device/hid_platform.h"

namespace kelvane {

class WinHidPlatform final : public HidPlatform {
 public:
  WinHidPlatform();
  ~WinHidPlatform() override;
  WinHidPlatform(const WinHidPlatform&) = delete;
  WinHidPlatform& operator=(const WinHidPlatform&) = delete;

  // For tests: handles opened by createFile and not closed yet, and reads
  // whose OVERLAPPED record is still held.
  int openHandleCount() const { return static_cast<int>(openHandles_.size()); }
  int pendingReadCount() const { return static_cast<int>(reads_.size()); }

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
  struct PendingRead;

  // Cancels the reads held for handle (unless the caller just did), waits
  // until they have finished and releases their records.
  void drainReads(Handle handle, bool cancel);
  // Hands the bytes of completed reads on event to their callers.
  // Copies the reads behind event that completed into their buffers; the
  // error of one that failed (the device gone), else 0.
  std::uint32_t deliverCompleted(EventHandle event);
  void captureLastError();

  std::vector<std::unique_ptr<PendingRead>> reads_;
  std::set<Handle> openHandles_;
  std::map<Handle, std::string> paths_;
  // The named mutex that marks a claimed dimmer, per claiming handle.
  std::map<Handle, void*> claims_;
  std::set<EventHandle> events_;
  std::uint32_t lastError_ = 0;
};

}  // namespace kelvane
