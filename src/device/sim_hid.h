#pragma once
// The built-in simulated dimmer: an in-process HID backend with a device model
// that moves the panel over time, a few other HID interfaces ahead of it, and
// fault injection for tests. Auto-detection never picks it; `--simulator`
// does.
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/hid_platform.h"

namespace kelvane {

// The dimmer itself: SetPanelValue loads a value, ExecutePanelChange starts
// the move, the panel then travels at `unitsPerSecond` on its own.
class DimmerModel {
 public:
  explicit DimmerModel(double unitsPerSecond = 400.0) : rate_(unitsPerSecond) {}

  // Answers one output report (report ID first) with one input report of
  // `answerLength` bytes (report ID first), at time `nowMicros`.
  std::vector<std::uint8_t> handle(const std::vector<std::uint8_t>& report, std::size_t answerLength,
                                   std::uint64_t nowMicros);

  void advance(std::uint64_t nowMicros);
  std::int32_t panelValue() const { return static_cast<std::int32_t>(position_ + 0.5); }
  bool moving() const { return position_ != target_; }
  std::int32_t loadedValue() const { return loaded_; }
  std::int32_t stepChange() const { return stepChange_; }
  void setPanelValue(std::int32_t value) { position_ = target_ = value; }
  void setRate(double unitsPerSecond) { rate_ = unitsPerSecond; }

 private:
  double rate_;
  double position_ = 0;
  double target_ = 0;
  std::int32_t loaded_ = 0;
  std::int32_t stepChange_ = 0;
  std::uint64_t lastMicros_ = 0;
  bool started_ = false;
};

struct SimInterface {
  std::string path;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint16_t versionNumber = 0x0100;
  HidCaps caps;
  bool isDimmer = false;
  bool openable = true;  // false: CreateFile is refused (access denied)
  bool present = true;   // false: unplugged
};

// What the simulated dimmer gets wrong on purpose.
struct SimFaults {
  bool silent = false;                       // never answers: every read times out
  std::uint32_t answerDelayMs = 0;           // answers arrive this late
  std::optional<std::size_t> answerLength;   // bytes of each answer actually delivered
  bool garbled = false;                      // answers carry scrambled bytes
  bool heldElsewhere = false;                // another process owns the dimmer
};

class SimulatedHid final : public HidPlatform {
 public:
  // The standard layout: a mouse, a keyboard, another device of the dimmer's
  // vendor, then the dimmer.
  SimulatedHid();
  ~SimulatedHid() override;

  // Interfaces in enumeration order; tests may rearrange them freely.
  std::vector<SimInterface>& interfaces() { return interfaces_; }
  SimInterface& dimmerInterface();
  static SimInterface makeDimmer(std::string path);
  static SimInterface makeOther(std::string path, std::uint16_t vendor, std::uint16_t product);

  DimmerModel& dimmer() { return dimmer_; }
  SimFaults& faults() { return faults_; }

  // Unplug: the dimmer leaves the enumeration and its open handles go dead.
  void unplug();
  void replug();

  // Time: a clock in microseconds and a sleep, real by default; tests may
  // make time virtual (sleeping then only advances the clock).
  void setClock(std::function<std::uint64_t()> nowMicros, std::function<void(std::uint64_t)> sleepMicros);
  void useVirtualTime();
  // With virtual time: lets `micros` pass.
  void advanceVirtualTime(std::uint64_t micros) { virtualNow_ += micros; }
  std::uint64_t now() const { return clock_(); }

  // Appends every report received ("> ") and every answer sent ("< ") to a file.
  bool openTrace(const std::string& path);

  // Counters for tests. received() keeps the newest kReceivedKept reports
  // only, so a long run does not grow without end (the trace file keeps all).
  static constexpr std::size_t kReceivedKept = 4096;
  int reportsReceived() const { return reportsReceived_; }
  int openHandleCount() const { return static_cast<int>(handles_.size()); }
  std::deque<std::vector<std::uint8_t>>& received() { return received_; }

  // HidPlatform
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
  struct OpenHandle {
    std::size_t interfaceIndex;
    bool overlapped;
    int plugGeneration;
  };
  struct PendingRead {
    Handle handle;
    std::uint8_t* buffer;
    std::uint32_t length;
    EventHandle event;
  };
  struct Answer {
    std::vector<std::uint8_t> bytes;
    std::uint64_t readyAtMicros;
  };

  OpenHandle* liveHandle(Handle handle);
  void completePending(std::uint64_t nowMicros);
  void trace(char direction, const std::uint8_t* data, std::size_t length);

  std::vector<SimInterface> interfaces_;
  std::map<DeviceInfoSet, std::vector<std::size_t>> infoSets_;
  std::map<Handle, OpenHandle> handles_;
  std::map<EventHandle, bool> events_;
  std::deque<Answer> answers_;  // answers of the dimmer not yet read
  std::optional<PendingRead> pending_;
  DimmerModel dimmer_;
  SimFaults faults_;
  std::function<std::uint64_t()> clock_;
  std::function<void(std::uint64_t)> sleep_;
  std::uint64_t virtualNow_ = 0;
  std::uint32_t lastError_ = 0;
  std::intptr_t nextHandle_ = 0x100;
  int plugGeneration_ = 0;
  int reportsReceived_ = 0;
  std::deque<std::vector<std::uint8_t>> received_;
  std::FILE* trace_ = nullptr;
};

}  // namespace kelvane
