#include "device/hidraw_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <linux/hid.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fstream>
#include <thread>
#include <utility>

namespace kelvane {

namespace {

const Guid kHidGuid{0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr std::uint32_t kSpintActive = 1;
constexpr std::size_t kLargestReport = 16384;  // the hidraw driver's own limit
constexpr const char kNodePrefix[] = "hidraw";

bool sameGuid(const Guid& a, const Guid& b) {
  return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
         std::equal(std::begin(a.data4), std::end(a.data4), std::begin(b.data4));
}

int toFd(Handle handle) { return handle >= 0 && handle <= INT_MAX ? static_cast<int>(handle) : -1; }

// The N of "hidrawN"; nothing for any other name.
std::optional<unsigned long> nodeNumber(const std::string& name) {
  const std::size_t prefix = sizeof kNodePrefix - 1;
  if (name.size() <= prefix || name.size() > prefix + 9 || name.compare(0, prefix, kNodePrefix) != 0)
    return std::nullopt;
  unsigned long n = 0;
  for (std::size_t k = prefix; k < name.size(); ++k) {
    if (name[k] < '0' || name[k] > '9') return std::nullopt;
    n = n * 10 + static_cast<unsigned long>(name[k] - '0');
  }
  return n;
}

// glibc's strerror_r returns the text; the XSI one fills the buffer.
[[maybe_unused]] const char* errorText(int, const char* buffer) { return buffer; }
[[maybe_unused]] const char* errorText(const char* text, const char*) { return text; }

}  // namespace

HidrawPlatform::HidrawPlatform(std::string sysfsRoot, std::string devRoot)
    : sysfsRoot_(std::move(sysfsRoot)), devRoot_(std::move(devRoot)) {}

bool HidrawPlatform::fail(int error) {
  lastError_ = static_cast<std::uint32_t>(error);
  return false;
}

bool HidrawPlatform::succeed() {
  lastError_ = 0;
  return true;
}

Guid HidrawPlatform::getHidGuid() {
  succeed();
  return kHidGuid;
}

HidPlatform::DeviceInfoSet HidrawPlatform::getClassDevs(const Guid& guid) {
  std::vector<std::pair<unsigned long, std::string>> found;
  if (sameGuid(guid, kHidGuid)) {
    DIR* dir = ::opendir(sysfsRoot_.c_str());
    // Without the class folder the driver is not loaded: no interfaces, not a failure.
    if (!dir && errno != ENOENT) {
      fail(errno);
      return kInvalidHandle;
    }
    if (dir) {
      while (const dirent* entry = ::readdir(dir)) {
        if (auto n = nodeNumber(entry->d_name)) found.emplace_back(*n, entry->d_name);
      }
      ::closedir(dir);
    }
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> names;
  for (auto& f : found) names.push_back(std::move(f.second));
  const DeviceInfoSet set = nextId_++;
  infoSets_[set] = std::move(names);
  succeed();
  return set;
}

bool HidrawPlatform::enumDeviceInterfaces(DeviceInfoSet set, const Guid&, std::uint32_t index,
                                          DeviceInterfaceData& data) {
  auto it = infoSets_.find(set);
  if (it == infoSets_.end()) return fail(EINVAL);
  if (index >= it->second.size()) return fail(ENODATA);
  data.interfaceClassGuid = kHidGuid;
  data.flags = kSpintActive;
  data.reserved = index;
  return succeed();
}

bool HidrawPlatform::getDeviceInterfaceDetail(DeviceInfoSet set, const DeviceInterfaceData& data,
                                              char* buffer, std::uint32_t bufferSize,
                                              std::uint32_t& requiredSize) {
  auto it = infoSets_.find(set);
  if (it == infoSets_.end() || data.reserved >= it->second.size()) return fail(EINVAL);
  const std::string path = devRoot_ + "/" + it->second[data.reserved];
  requiredSize = static_cast<std::uint32_t>(4 + path.size() + 1);
  if (buffer == nullptr || bufferSize < requiredSize) return fail(ENOBUFS);
  std::memcpy(buffer + 4, path.c_str(), path.size() + 1);
  return succeed();
}

bool HidrawPlatform::destroyDeviceInfoList(DeviceInfoSet set) {
  return infoSets_.erase(set) ? succeed() : fail(EINVAL);
}

Handle HidrawPlatform::createFile(const std::string& path, bool overlapped) {
  const int flags = O_RDWR | O_CLOEXEC | (overlapped ? O_NONBLOCK : 0);
  int fd;
  do fd = ::open(path.c_str(), flags);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    fail(errno);
    return kInvalidHandle;
  }
  OpenFile file;
  file.overlapped = overlapped;
  const std::string dirPrefix = devRoot_ + "/";
  if (path.compare(0, dirPrefix.size(), dirPrefix) == 0 && nodeNumber(path.substr(dirPrefix.size())))
    file.node = path.substr(dirPrefix.size());
  files_[fd] = std::move(file);
  succeed();
  return fd;
}

void HidrawPlatform::forgetReads(Handle handle) {
  std::erase_if(pending_, [&](const PendingRead& r) { return r.handle == handle; });
}

bool HidrawPlatform::claimExclusive(Handle handle) {
  // An advisory lock on the node: every Kelvane front end takes it, and the
  // kernel drops it with the descriptor, also when a holder is killed.
  const int fd = toFd(handle);
  if (fd < 0) return fail(EBADF);
  int rc;
  do rc = ::flock(fd, LOCK_EX | LOCK_NB);
  while (rc != 0 && errno == EINTR);
  if (rc != 0) return fail(errno);
  return succeed();
}

bool HidrawPlatform::closeHandle(Handle handle) {
  const int fd = toFd(handle);
  if (fd < 0) return fail(EBADF);
  // The descriptor number is free for reuse once closed; no read may outlive it.
  forgetReads(handle);
  files_.erase(handle);
  if (::close(fd) != 0 && errno != EINTR) return fail(errno);
  return succeed();
}

// USB devices carry their release number in the USB device, two levels above
// the HID device in sysfs; other buses have none to give.
std::uint16_t HidrawPlatform::versionOf(Handle handle) const {
  auto it = files_.find(handle);
  if (it == files_.end() || it->second.node.empty()) return 0;
  std::ifstream in(sysfsRoot_ + "/" + it->second.node + "/device/../../bcdDevice");
  unsigned int version = 0;
  if (!(in >> std::hex >> version)) return 0;
  return static_cast<std::uint16_t>(version);
}

bool HidrawPlatform::getAttributes(Handle handle, HidAttributes& attributes) {
  hidraw_devinfo info{};
  if (::ioctl(toFd(handle), HIDIOCGRAWINFO, &info) < 0) return fail(errno);
  attributes.vendorId = static_cast<std::uint16_t>(info.vendor);
  attributes.productId = static_cast<std::uint16_t>(info.product);
  attributes.versionNumber = versionOf(handle);
  return succeed();
}

std::optional<HidDescriptorInfo> HidrawPlatform::readDescriptor(int fd) {
  int size = 0;
  if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0) {
    fail(errno);
    return std::nullopt;
  }
  if (size < 0 || size > HID_MAX_DESCRIPTOR_SIZE) {
    fail(EPROTO);
    return std::nullopt;
  }
  hidraw_report_descriptor descriptor{};
  descriptor.size = static_cast<std::uint32_t>(size);
  if (::ioctl(fd, HIDIOCGRDESC, &descriptor) < 0) {
    fail(errno);
    return std::nullopt;
  }
  const std::size_t length = std::min<std::size_t>(descriptor.size, sizeof descriptor.value);
  return parseHidDescriptor(std::span<const std::uint8_t>(descriptor.value, length));
}

HidPlatform::PreparsedData HidrawPlatform::getPreparsedData(Handle handle) {
  const std::optional<HidDescriptorInfo> info = readDescriptor(toFd(handle));
  if (!info) return 0;
  if (auto it = files_.find(handle); it != files_.end()) it->second.usesReportIds = info->usesReportIds;
  if (!info->wellFormed) {
    fail(EPROTO);
    return 0;
  }
  const PreparsedData data = nextId_++;
  preparsed_[data] = info->caps;
  succeed();
  return data;
}

bool HidrawPlatform::getCaps(PreparsedData data, HidCaps& caps) {
  auto it = preparsed_.find(data);
  if (it == preparsed_.end()) return fail(EINVAL);
  caps = it->second;
  return succeed();
}

bool HidrawPlatform::getValueCaps(int reportType, std::uint16_t& count, PreparsedData data) {
  auto it = preparsed_.find(data);
  if (it == preparsed_.end() || reportType < 0 || reportType > 2) return fail(EINVAL);
  const HidCaps& c = it->second;
  const std::uint16_t available[] = {c.numberInputValueCaps, c.numberOutputValueCaps,
                                     c.numberFeatureValueCaps};
  count = std::min(count, available[reportType]);
  return succeed();
}

bool HidrawPlatform::freePreparsedData(PreparsedData data) {
  return preparsed_.erase(data) ? succeed() : fail(EINVAL);
}

HidPlatform::EventHandle HidrawPlatform::createEvent(bool manualReset, bool initialState) {
  const EventHandle event = nextId_++;
  events_[event] = Event{manualReset, initialState};
  succeed();
  return event;
}

bool HidrawPlatform::resetEvent(EventHandle event) {
  auto it = events_.find(event);
  if (it == events_.end()) return fail(EINVAL);
  it->second.signalled = false;
  return succeed();
}

bool HidrawPlatform::writeFile(Handle handle, const std::uint8_t* data, std::uint32_t length,
                               std::uint32_t& written) {
  ssize_t n;
  do n = ::write(toFd(handle), data, length);
  while (n < 0 && errno == EINTR);
  if (n < 0) return fail(errno);
  written = static_cast<std::uint32_t>(n);
  return succeed();
}

bool HidrawPlatform::prependReportId(Handle handle) {
  auto it = files_.find(handle);
  if (it == files_.end()) return true;
  if (!it->second.usesReportIds.has_value()) {
    // Asked once per handle; a device whose descriptor cannot be read is taken
    // not to number its reports, as the simple devices this talks to do.
    const std::uint32_t saved = lastError_;
    const std::optional<HidDescriptorInfo> info = readDescriptor(toFd(handle));
    it->second.usesReportIds = info && info->usesReportIds;
    lastError_ = saved;
  }
  return !*it->second.usesReportIds;
}

HidrawPlatform::ReadOutcome HidrawPlatform::readInto(const PendingRead& read) {
  const bool prepend = prependReportId(read.handle);
  scratch_.resize(kLargestReport);
  ssize_t n;
  do n = ::read(toFd(read.handle), scratch_.data(), scratch_.size());
  while (n < 0 && errno == EINTR);
  if (n < 0) {
    fail(errno);
    return errno == EAGAIN || errno == EWOULDBLOCK ? ReadOutcome::WouldBlock : ReadOutcome::Gone;
  }
  if (n == 0) {  // end of file: no report will ever come
    fail(ENODATA);
    return ReadOutcome::Gone;
  }
  std::size_t offset = 0;
  if (prepend && read.length > 0) {
    read.buffer[0] = 0;
    offset = 1;
  }
  const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(n), read.length - offset);
  std::memcpy(read.buffer + offset, scratch_.data(), count);
  succeed();
  return ReadOutcome::Completed;
}

bool HidrawPlatform::readFile(Handle handle, std::uint8_t* buffer, std::uint32_t length,
                              EventHandle event) {
  auto ev = events_.find(event);
  if (ev == events_.end()) return fail(EINVAL);
  const int flags = ::fcntl(toFd(handle), F_GETFL);
  if (flags < 0) return fail(errno);
  ev->second.signalled = false;  // an overlapped read resets its event as it starts
  ev->second.goneError = 0;
  auto file = files_.find(handle);
  const bool overlapped = file != files_.end() ? file->second.overlapped : (flags & O_NONBLOCK) != 0;
  const PendingRead read{handle, buffer, length, event};
  switch (readInto(read)) {
    case ReadOutcome::Completed:
      ev->second.signalled = true;
      return true;
    case ReadOutcome::WouldBlock:
      if (overlapped) pending_.push_back(read);
      return false;
    case ReadOutcome::Gone:  // the read is never going to complete
      ev->second.goneError = lastError_;
      return false;
  }
  return false;
}

std::uint32_t HidrawPlatform::waitForSingleObject(EventHandle event, std::uint32_t milliseconds) {
  using Clock = std::chrono::steady_clock;
  auto ev = events_.find(event);
  if (ev == events_.end()) {
    fail(EINVAL);
    return kWaitFailed;
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    if (ev->second.signalled) {
      if (!ev->second.manualReset) ev->second.signalled = false;
      succeed();
      return kWaitObject0;
    }
    const Clock::time_point now = Clock::now();
    auto read = std::find_if(pending_.begin(), pending_.end(),
                             [&](const PendingRead& r) { return r.event == event; });
    if (read == pending_.end() && ev->second.goneError != 0) {
      // The device has gone: waiting longer cannot bring the report.
      lastError_ = std::exchange(ev->second.goneError, 0);
      return kWaitTimeout;
    }
    if (read == pending_.end() || now >= deadline) {
      // Nothing can signal the event any more; the wait runs out its bound.
      std::this_thread::sleep_until(deadline);
      lastError_ = 0;
      return kWaitTimeout;
    }
    const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    pollfd pfd{toFd(read->handle), POLLIN, 0};
    const int ready = ::poll(&pfd, 1, static_cast<int>(std::min<long long>(remaining, INT_MAX)));
    if (ready < 0) {
      if (errno == EINTR) continue;
      fail(errno);
      return kWaitFailed;
    }
    if (ready == 0) continue;
    if (pfd.revents & POLLIN) {
      const PendingRead r = *read;
      const ReadOutcome outcome = readInto(r);
      if (outcome == ReadOutcome::WouldBlock) continue;
      pending_.erase(read);
      if (outcome == ReadOutcome::Completed) ev->second.signalled = true;
      else ev->second.goneError = lastError_;
      continue;
    }
    // POLLERR, POLLHUP or POLLNVAL without data: the device has gone.
    ev->second.goneError = (pfd.revents & POLLNVAL) ? EBADF : ENODEV;
    pending_.erase(read);
  }
}

bool HidrawPlatform::cancelIo(Handle handle) {
  if (::fcntl(toFd(handle), F_GETFD) < 0) return fail(errno);
  forgetReads(handle);
  return succeed();
}

std::string HidrawPlatform::formatMessage(std::uint32_t code, std::uint32_t maxChars) {
  if (code > INT_MAX) return {};
  const int error = static_cast<int>(code);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 32))
  if (::strerrordesc_np(error) == nullptr) return {};  // no system text for it
#endif
  char buffer[256] = {};
  std::string text = errorText(::strerror_r(error, buffer, sizeof buffer), buffer);
  text += "\r\n";
  // The text and its terminating NUL must fit into maxChars characters.
  if (text.size() >= maxChars) return {};
  return text;
}

}  // namespace kelvane
