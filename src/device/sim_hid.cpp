#include "device/sim_hid.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "device/protocol.h"

namespace kelvane {

namespace {
const Guid kHidGuid{0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr std::uint32_t kSpintActive = 1;

std::string interfacePath(const char* vidPid, int instance) {
  return std::string("\\\\?\\hid#") + vidPid + "#sim&" + std::to_string(instance) +
         "&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
}
}  // namespace

// ---- DimmerModel ----

void DimmerModel::advance(std::uint64_t nowMicros) {
  if (!started_) {
    started_ = true;
    lastMicros_ = nowMicros;
    return;
  }
  if (nowMicros <= lastMicros_) return;
  const double step = rate_ * static_cast<double>(nowMicros - lastMicros_) / 1e6;
  lastMicros_ = nowMicros;
  if (std::fabs(target_ - position_) <= step) {
    position_ = target_;
  } else {
    position_ += target_ > position_ ? step : -step;
  }
}

std::vector<std::uint8_t> DimmerModel::handle(const std::vector<std::uint8_t>& report,
                                              std::size_t answerLength, std::uint64_t nowMicros) {
  advance(nowMicros);
  std::vector<std::uint8_t> answer(answerLength, 0);
  const auto byte = [&](std::size_t k) -> std::uint8_t { return k < report.size() ? report[k] : 0; };
  const std::uint8_t code = byte(1);
  if (answer.size() > 1) answer[1] = code;
  const auto put = [&](std::size_t k, std::uint8_t v) {
    if (k < answer.size()) answer[k] = v;
  };
  switch (code) {
    case cmd::SetPanelValue:
      loaded_ = std::min<std::int32_t>(byte(2) + 256 * byte(3), kMaxBrightness);
      put(2, byte(2));
      put(3, byte(3));
      break;
    case cmd::ExecutePanelChange:
      target_ = loaded_;
      put(2, byte(2));
      break;
    case cmd::ReadPanelValue: {
      const std::int32_t v = panelValue();
      put(2, static_cast<std::uint8_t>(v & 0xFF));
      put(3, static_cast<std::uint8_t>((v >> 8) & 0xFF));
      break;
    }
    case cmd::ReadMotion:
      put(2, moving() ? 1 : 0);
      break;
    case cmd::SetStepChange:
      stepChange_ = byte(2);
      put(2, byte(2));
      break;
    default:
      break;
  }
  return answer;
}

// ---- SimulatedHid ----

SimInterface SimulatedHid::makeDimmer(std::string path) {
  SimInterface i;
  i.path = std::move(path);
  i.vendorId = 0x04D8;
  i.productId = 0xF5D1;
  i.versionNumber = 0x0002;
  i.isDimmer = true;
  i.caps.usage = 0x1;
  i.caps.usagePage = 0xFF00;
  i.caps.inputReportByteLength = 9;
  i.caps.outputReportByteLength = 9;
  i.caps.numberLinkCollectionNodes = 1;
  i.caps.numberInputValueCaps = 1;
  i.caps.numberInputDataIndices = 1;
  i.caps.numberOutputValueCaps = 1;
  i.caps.numberOutputDataIndices = 1;
  return i;
}

SimInterface SimulatedHid::makeOther(std::string path, std::uint16_t vendor, std::uint16_t product) {
  SimInterface i;
  i.path = std::move(path);
  i.vendorId = vendor;
  i.productId = product;
  i.caps.usage = 0x2;
  i.caps.usagePage = 0x1;
  i.caps.inputReportByteLength = 5;
  i.caps.numberLinkCollectionNodes = 2;
  i.caps.numberInputButtonCaps = 1;
  i.caps.numberInputValueCaps = 3;
  i.caps.numberInputDataIndices = 6;
  return i;
}

SimulatedHid::SimulatedHid() {
  interfaces_.push_back(makeOther(interfacePath("vid_046d&pid_c077", 0), 0x046D, 0xC077));
  interfaces_.push_back(makeOther(interfacePath("vid_413c&pid_2113", 1), 0x413C, 0x2113));
  interfaces_.push_back(makeOther(interfacePath("vid_04d8&pid_003f", 2), 0x04D8, 0x003F));
  interfaces_.push_back(makeDimmer(interfacePath("vid_04d8&pid_f5d1", 3)));
  clock_ = [] {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
  };
  sleep_ = [](std::uint64_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); };
}

SimulatedHid::~SimulatedHid() {
  if (trace_) std::fclose(trace_);
}

SimInterface& SimulatedHid::dimmerInterface() {
  for (auto& i : interfaces_)
    if (i.isDimmer) return i;
  return interfaces_.back();
}

void SimulatedHid::unplug() {
  dimmerInterface().present = false;
  ++plugGeneration_;
  answers_.clear();
  pending_.reset();
}

void SimulatedHid::replug() { dimmerInterface().present = true; }

void SimulatedHid::setClock(std::function<std::uint64_t()> nowMicros,
                            std::function<void(std::uint64_t)> sleepMicros) {
  clock_ = std::move(nowMicros);
  sleep_ = std::move(sleepMicros);
}

void SimulatedHid::useVirtualTime() {
  setClock([this] { return virtualNow_; }, [this](std::uint64_t us) { virtualNow_ += us; });
}

bool SimulatedHid::openTrace(const std::string& path) {
  if (trace_) std::fclose(trace_);
  trace_ = std::fopen(path.c_str(), "ab");  // LF line ends on every system
  return trace_ != nullptr;
}

void SimulatedHid::trace(char direction, const std::uint8_t* data, std::size_t length) {
  if (!trace_) return;
  std::string line(1, direction);
  char hex[4];
  for (std::size_t k = 0; k < length; ++k) {
    std::snprintf(hex, sizeof hex, " %02X", data[k]);
    line += hex;
  }
  line += '\n';
  std::fputs(line.c_str(), trace_);
  std::fflush(trace_);
}

SimulatedHid::OpenHandle* SimulatedHid::liveHandle(Handle handle) {
  auto it = handles_.find(handle);
  if (it == handles_.end()) return nullptr;
  return &it->second;
}

Guid SimulatedHid::getHidGuid() {
  lastError_ = syserr::Success;
  return kHidGuid;
}

HidPlatform::DeviceInfoSet SimulatedHid::getClassDevs(const Guid&) {
  std::vector<std::size_t> present;
  for (std::size_t i = 0; i < interfaces_.size(); ++i)
    if (interfaces_[i].present) present.push_back(i);
  const DeviceInfoSet set = nextHandle_;
  nextHandle_ += 4;
  infoSets_[set] = std::move(present);
  lastError_ = syserr::Success;
  return set;
}

bool SimulatedHid::enumDeviceInterfaces(DeviceInfoSet set, const Guid&, std::uint32_t index,
                                        DeviceInterfaceData& data) {
  auto it = infoSets_.find(set);
  if (it == infoSets_.end()) {
    lastError_ = syserr::InvalidHandle;
    return false;
  }
  if (index >= it->second.size()) {
    lastError_ = syserr::NoMoreItems;
    return false;
  }
  data.interfaceClassGuid = kHidGuid;
  data.flags = kSpintActive;
  data.reserved = it->second[index];
  lastError_ = syserr::Success;
  return true;
}

bool SimulatedHid::getDeviceInterfaceDetail(DeviceInfoSet set, const DeviceInterfaceData& data,
                                            char* buffer, std::uint32_t bufferSize,
                                            std::uint32_t& requiredSize) {
  if (!infoSets_.count(set) || data.reserved >= interfaces_.size()) {
    lastError_ = syserr::InvalidParameter;
    return false;
  }
  const std::string& path = interfaces_[data.reserved].path;
  requiredSize = static_cast<std::uint32_t>(4 + path.size() + 1);
  if (buffer == nullptr || bufferSize < requiredSize) {
    lastError_ = syserr::InsufficientBuffer;
    return false;
  }
  std::memcpy(buffer + 4, path.c_str(), path.size() + 1);
  lastError_ = syserr::Success;
  return true;
}

bool SimulatedHid::destroyDeviceInfoList(DeviceInfoSet set) {
  lastError_ = infoSets_.erase(set) ? syserr::Success : syserr::InvalidHandle;
  return lastError_ == syserr::Success;
}

Handle SimulatedHid::createFile(const std::string& path, bool overlapped) {
  for (std::size_t i = 0; i < interfaces_.size(); ++i) {
    const SimInterface& in = interfaces_[i];
    if (in.path != path || !in.present) continue;
    if (!in.openable) {
      lastError_ = syserr::AccessDenied;
      return kInvalidHandle;
    }
    const Handle h = nextHandle_;
    nextHandle_ += 4;
    handles_[h] = OpenHandle{i, overlapped, plugGeneration_};
    lastError_ = syserr::Success;
    return h;
  }
  lastError_ = syserr::FileNotFound;
  return kInvalidHandle;
}

bool SimulatedHid::claimExclusive(Handle handle) {
  if (!handles_.count(handle)) {
    lastError_ = syserr::InvalidHandle;
    return false;
  }
  lastError_ = faults_.heldElsewhere ? syserr::SharingViolation : syserr::Success;
  return !faults_.heldElsewhere;
}

bool SimulatedHid::closeHandle(Handle handle) {
  auto it = handles_.find(handle);
  if (it == handles_.end()) {
    lastError_ = syserr::InvalidHandle;
    return false;
  }
  if (pending_ && pending_->handle == handle) pending_.reset();
  if (it->second.overlapped) answers_.clear();  // nobody is left to read them
  handles_.erase(it);
  lastError_ = syserr::Success;
  return true;
}

bool SimulatedHid::getAttributes(Handle handle, HidAttributes& attributes) {
  OpenHandle* h = liveHandle(handle);
  if (!h || (h->plugGeneration != plugGeneration_ && interfaces_[h->interfaceIndex].isDimmer)) {
    lastError_ = h ? syserr::DeviceNotConnected : syserr::InvalidHandle;
    return false;
  }
  const SimInterface& in = interfaces_[h->interfaceIndex];
  attributes.vendorId = in.vendorId;
  attributes.productId = in.productId;
  attributes.versionNumber = in.versionNumber;
  lastError_ = syserr::Success;
  return true;
}

HidPlatform::PreparsedData SimulatedHid::getPreparsedData(Handle handle) {
  if (!liveHandle(handle)) {
    lastError_ = syserr::InvalidHandle;
    return 0;
  }
  lastError_ = syserr::Success;
  return handle;
}

bool SimulatedHid::getCaps(PreparsedData data, HidCaps& caps) {
  OpenHandle* h = liveHandle(data);
  if (!h) {
    lastError_ = syserr::InvalidHandle;
    return false;
  }
  caps = interfaces_[h->interfaceIndex].caps;
  lastError_ = syserr::Success;
  return true;
}

bool SimulatedHid::getValueCaps(int, std::uint16_t& count, PreparsedData data) {
  OpenHandle* h = liveHandle(data);
  if (!h) {
    lastError_ = syserr::InvalidHandle;
    return false;
  }
  count = std::min(count, interfaces_[h->interfaceIndex].caps.numberInputValueCaps);
  lastError_ = syserr::Success;
  return true;
}

bool SimulatedHid::freePreparsedData(PreparsedData) {
  lastError_ = syserr::Success;
  return true;
}

HidPlatform::EventHandle SimulatedHid::createEvent(bool, bool initialState) {
  const EventHandle e = nextHandle_;
  nextHandle_ += 4;
  events_[e] = initialState;
  lastError_ = syserr::Success;
  return e;
}

bool SimulatedHid::resetEvent(EventHandle event) {
  auto it = events_.find(event);
  if (it == events_.end()) {
    lastError_ = syserr::InvalidHandle;
    return false;
  }
  it->second = false;
  lastError_ = syserr::Success;
  return true;
}

bool SimulatedHid::writeFile(Handle handle, const std::uint8_t* data, std::uint32_t length,
                             std::uint32_t& written) {
  OpenHandle* h = liveHandle(handle);
  if (!h) {
    lastError_ = syserr::InvalidHandle;
    return false;
  }
  SimInterface& in = interfaces_[h->interfaceIndex];
  if (!in.present || h->plugGeneration != plugGeneration_) {
    lastError_ = syserr::DeviceNotConnected;
    return false;
  }
  if (!in.isDimmer) {  // the other devices take no output reports
    lastError_ = syserr::InvalidParameter;
    return false;
  }
  std::vector<std::uint8_t> report(data, data + length);
  trace('>', data, length);
  ++reportsReceived_;
  if (received_.size() == kReceivedKept) received_.pop_front();
  received_.push_back(report);
  const std::uint64_t now = clock_();
  std::vector<std::uint8_t> answer = dimmer_.handle(report, in.caps.inputReportByteLength, now);
  if (faults_.garbled)
    for (std::size_t k = 1; k < answer.size(); ++k) answer[k] ^= static_cast<std::uint8_t>(0xA5 + k);
  if (faults_.answerLength && *faults_.answerLength < answer.size()) answer.resize(*faults_.answerLength);
  if (!faults_.silent) answers_.push_back({std::move(answer), now + faults_.answerDelayMs * 1000ull});
  // A read still pending takes the answer as soon as it is there.
  completePending(now);
  written = length;
  lastError_ = syserr::Success;
  return true;
}

void SimulatedHid::completePending(std::uint64_t nowMicros) {
  if (!pending_ || answers_.empty() || answers_.front().readyAtMicros > nowMicros) return;
  Answer a = std::move(answers_.front());
  answers_.pop_front();
  const std::size_t n = std::min<std::size_t>(a.bytes.size(), pending_->length);
  std::memcpy(pending_->buffer, a.bytes.data(), n);
  trace('<', a.bytes.data(), n);
  events_[pending_->event] = true;
  pending_.reset();
}

bool SimulatedHid::readFile(Handle handle, std::uint8_t* buffer, std::uint32_t length,
                            EventHandle event) {
  OpenHandle* h = liveHandle(handle);
  if (!h || !events_.count(event)) {
    lastError_ = syserr::InvalidHandle;
    return false;
  }
  events_[event] = false;  // an overlapped read resets its event as it starts
  pending_ = PendingRead{handle, buffer, length, event};
  SimInterface& in = interfaces_[h->interfaceIndex];
  if (!in.present || h->plugGeneration != plugGeneration_) {
    // The read stays pending on a dead handle and never completes; a wait
    // for it ends at once (see below).
    lastError_ = syserr::IoPending;
    return false;
  }
  completePending(clock_());
  lastError_ = events_[event] ? syserr::Success : syserr::IoPending;
  return lastError_ == syserr::Success;
}

std::uint32_t SimulatedHid::waitForSingleObject(EventHandle event, std::uint32_t milliseconds) {
  auto it = events_.find(event);
  if (it == events_.end()) {
    lastError_ = syserr::InvalidHandle;
    return kWaitFailed;
  }
  lastError_ = syserr::Success;
  const std::uint64_t now = clock_();
  completePending(now);
  if (events_[event]) return kWaitObject0;
  if (pending_ && pending_->event == event) {
    // As on the systems' own drivers, a read on an unplugged device fails
    // at once: the wait ends without running out its bound.
    const OpenHandle* h = liveHandle(pending_->handle);
    if (h && (!interfaces_[h->interfaceIndex].present || h->plugGeneration != plugGeneration_)) {
      lastError_ = syserr::DeviceNotConnected;
      return kWaitTimeout;
    }
  }
  const std::uint64_t bound = milliseconds * 1000ull;
  if (pending_ && pending_->event == event && !answers_.empty()) {
    const std::uint64_t ready = answers_.front().readyAtMicros;
    const std::uint64_t wait = ready > now ? ready - now : 0;
    if (wait <= bound) {
      sleep_(wait);
      completePending(std::max(ready, clock_()));
      return kWaitObject0;
    }
  }
  sleep_(bound);
  return kWaitTimeout;
}

bool SimulatedHid::cancelIo(Handle handle) {
  if (!liveHandle(handle)) {
    lastError_ = syserr::InvalidHandle;
    return false;
  }
  if (pending_ && pending_->handle == handle) pending_.reset();
  lastError_ = syserr::Success;
  return true;
}

std::string SimulatedHid::formatMessage(std::uint32_t code, std::uint32_t maxChars) {
  const char* text = nullptr;
  switch (code) {
    case syserr::Success: text = "The operation completed successfully."; break;
    case syserr::FileNotFound: text = "The system cannot find the file specified."; break;
    case syserr::AccessDenied: text = "Access is denied."; break;
    case syserr::InvalidHandle: text = "The handle is invalid."; break;
    case syserr::GenFailure: text = "A device attached to the system is not functioning."; break;
    case syserr::SharingViolation:
      text = "The process cannot access the file because it is being used by another process.";
      break;
    case syserr::InvalidParameter: text = "The parameter is incorrect."; break;
    case syserr::InsufficientBuffer: text = "The data area passed to a system call is too small."; break;
    case syserr::NoMoreItems: text = "No more data is available."; break;
    case syserr::IoPending: text = "Overlapped I/O operation is in progress."; break;
    case syserr::DeviceNotConnected: text = "The device is not connected."; break;
    default: return {};
  }
  std::string result = std::string(text) + "\r\n";
  if (result.size() > maxChars) return {};
  return result;
}

}  // namespace kelvane
