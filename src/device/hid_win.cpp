#include "device/hid_win.h"

#include <windows.h>
// clang-format off: the HID headers need the types of these two first.
#include <setupapi.h>
// mingw-w64's HID headers declare C functions without C linkage.
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}
// clang-format on

#include <algorithm>
#include <cstring>

namespace kelvane {

namespace {

// The record sizes the link fills in: those of the 32-bit system.
constexpr std::uint32_t kLinkInterfaceDataSize = 28;
constexpr std::uint32_t kLinkDetailDataSize = 5;
// HidP_GetValueCaps gets room for at least this many bytes of records.
constexpr std::size_t kMinValueCapsBytes = 1024;
// How long a cancelled read may take to finish: 50 x 100 ms.
constexpr int kCancelWaitSteps = 50;
constexpr DWORD kCancelWaitStepMs = 100;

HANDLE toHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
std::intptr_t fromHandle(HANDLE h) { return reinterpret_cast<std::intptr_t>(h); }

GUID toGuid(const Guid& g) {
  GUID out;
  out.Data1 = g.data1;
  out.Data2 = g.data2;
  out.Data3 = g.data3;
  std::memcpy(out.Data4, g.data4, sizeof out.Data4);
  return out;
}

Guid fromGuid(const GUID& g) {
  Guid out;
  out.data1 = static_cast<std::uint32_t>(g.Data1);
  out.data2 = g.Data2;
  out.data3 = g.Data3;
  std::memcpy(out.data4, g.Data4, sizeof out.data4);
  return out;
}

SECURITY_ATTRIBUTES inheritable() {
  SECURITY_ATTRIBUTES sa{};
  sa.nLength = sizeof sa;
  sa.lpSecurityDescriptor = nullptr;
  sa.bInheritHandle = TRUE;
  return sa;
}

PHIDP_PREPARSED_DATA toPreparsed(HidPlatform::PreparsedData data) {
  return reinterpret_cast<PHIDP_PREPARSED_DATA>(data);
}

}  // namespace

struct WinHidPlatform::PendingRead {
  OVERLAPPED overlapped{};
  Handle handle = kInvalidHandle;
  EventHandle event = 0;
  std::vector<std::uint8_t> data;  // what the system writes into
  std::uint8_t* target = nullptr;  // the caller's buffer; null once abandoned
};

WinHidPlatform::WinHidPlatform() = default;

WinHidPlatform::~WinHidPlatform() {
  // Whatever the link left open ends with the program; no read may still be
  // able to complete into a released OVERLAPPED record.
  while (!reads_.empty()) drainReads(reads_.front()->handle, true);
  for (Handle h : openHandles_) CloseHandle(toHandle(h));
  for (auto& claim : claims_) CloseHandle(static_cast<HANDLE>(claim.second));
  for (EventHandle e : events_) CloseHandle(toHandle(e));
}

void WinHidPlatform::captureLastError() { lastError_ = static_cast<std::uint32_t>(GetLastError()); }

Guid WinHidPlatform::getHidGuid() {
  GUID guid{};
  HidD_GetHidGuid(&guid);
  captureLastError();
  return fromGuid(guid);
}

HidPlatform::DeviceInfoSet WinHidPlatform::getClassDevs(const Guid& guid) {
  const GUID g = toGuid(guid);
  HDEVINFO set = SetupDiGetClassDevsA(&g, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  captureLastError();
  return fromHandle(set);
}

bool WinHidPlatform::enumDeviceInterfaces(DeviceInfoSet set, const Guid& guid, std::uint32_t index,
                                          DeviceInterfaceData& data) {
  if (data.cbSize != kLinkInterfaceDataSize) {
    lastError_ = ERROR_INVALID_USER_BUFFER;
    return false;
  }
  const GUID g = toGuid(guid);
  SP_DEVICE_INTERFACE_DATA native{};
  native.cbSize = sizeof native;
  const BOOL ok = SetupDiEnumDeviceInterfaces(toHandle(set), nullptr, &g, index, &native);
  captureLastError();
  if (!ok) return false;
  data.interfaceClassGuid = fromGuid(native.InterfaceClassGuid);
  data.flags = native.Flags;
  data.reserved = native.Reserved;
  return true;
}

bool WinHidPlatform::getDeviceInterfaceDetail(DeviceInfoSet set, const DeviceInterfaceData& data,
                                              char* buffer, std::uint32_t bufferSize,
                                              std::uint32_t& requiredSize) {
  SP_DEVICE_INTERFACE_DATA native{};
  native.cbSize = sizeof native;
  native.InterfaceClassGuid = toGuid(data.interfaceClassGuid);
  native.Flags = data.flags;
  native.Reserved = data.reserved;
  DWORD needed = 0;

  if (buffer == nullptr) {
    const BOOL ok = SetupDiGetDeviceInterfaceDetailA(toHandle(set), &native, nullptr, 0, &needed, nullptr);
    captureLastError();
    requiredSize = needed;
    return ok != FALSE;
  }

  std::uint32_t callerSize = 0;
  if (bufferSize >= 4) std::memcpy(&callerSize, buffer, 4);
  if (bufferSize < kLinkDetailDataSize || callerSize != kLinkDetailDataSize) {
    lastError_ = ERROR_INVALID_USER_BUFFER;
    return false;
  }
  // The path lies at byte 4 in both layouts; only cbSize (and the padding
  // after it) differs, so the native record gets its own buffer of the same
  // size and the path is copied over afterwards.
  std::vector<std::uint8_t> own(std::max<std::size_t>(bufferSize, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)));
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(own.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  const BOOL ok = SetupDiGetDeviceInterfaceDetailA(toHandle(set), &native, detail, bufferSize, &needed, nullptr);
  captureLastError();
  requiredSize = needed;
  if (!ok) return false;
  const std::size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
  static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) == 4);
  const std::size_t room = bufferSize - pathOffset;
  const std::size_t length = strnlen(detail->DevicePath, room);
  std::memcpy(buffer + pathOffset, detail->DevicePath, length);
  if (length < room) buffer[pathOffset + length] = '\0';
  return true;
}

bool WinHidPlatform::destroyDeviceInfoList(DeviceInfoSet set) {
  const BOOL ok = SetupDiDestroyDeviceInfoList(toHandle(set));
  captureLastError();
  return ok != FALSE;
}

Handle WinHidPlatform::createFile(const std::string& path, bool overlapped) {
  SECURITY_ATTRIBUTES sa = inheritable();
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         &sa, OPEN_EXISTING, overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
  captureLastError();
  const Handle result = fromHandle(h);
  if (h != INVALID_HANDLE_VALUE) {
    openHandles_.insert(result);
    paths_[result] = path;
  }
  return result;
}

bool WinHidPlatform::claimExclusive(Handle handle) {
  // A named mutex per device path, in the global namespace so that a server
  // in another session sees it too; the system removes it with the last
  // handle, also when a holder is killed.
  auto path = paths_.find(handle);
  if (path == paths_.end()) {
    lastError_ = ERROR_INVALID_HANDLE;
    return false;
  }
  std::string name = "Kelvane.dimmer.";
  for (char c : path->second) name += (c == '\\') ? '_' : c;
  if (name.size() > MAX_PATH - 8) name.resize(MAX_PATH - 8);
  HANDLE mutex = CreateMutexA(nullptr, FALSE, ("Global\\" + name).c_str());
  if (!mutex) mutex = CreateMutexA(nullptr, FALSE, ("Local\\" + name).c_str());
  if (!mutex) {
    captureLastError();
    return false;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    lastError_ = ERROR_SHARING_VIOLATION;
    return false;
  }
  claims_[handle] = mutex;
  lastError_ = ERROR_SUCCESS;
  return true;
}

bool WinHidPlatform::closeHandle(Handle handle) {
  // A read still pending on the handle ends with it; its record must outlive
  // the cancellation.
  drainReads(handle, true);
  const BOOL ok = CloseHandle(toHandle(handle));
  captureLastError();
  if (ok) {
    openHandles_.erase(handle);
    paths_.erase(handle);
    if (auto claim = claims_.find(handle); claim != claims_.end()) {
      CloseHandle(static_cast<HANDLE>(claim->second));
      claims_.erase(claim);
    }
  }
  return ok != FALSE;
}

bool WinHidPlatform::getAttributes(Handle handle, HidAttributes& attributes) {
  HIDD_ATTRIBUTES native{};
  native.Size = sizeof native;
  const BOOLEAN ok = HidD_GetAttributes(toHandle(handle), &native);
  captureLastError();
  if (!ok) return false;
  attributes.size = native.Size;
  attributes.vendorId = native.VendorID;
  attributes.productId = native.ProductID;
  attributes.versionNumber = native.VersionNumber;
  return true;
}

HidPlatform::PreparsedData WinHidPlatform::getPreparsedData(Handle handle) {
  PHIDP_PREPARSED_DATA data = nullptr;
  const BOOLEAN ok = HidD_GetPreparsedData(toHandle(handle), &data);
  captureLastError();
  return ok ? reinterpret_cast<PreparsedData>(data) : 0;
}

bool WinHidPlatform::getCaps(PreparsedData data, HidCaps& caps) {
  // hid.dll reads through the pointer unchecked; a failed query above must
  // not become an access violation here.
  if (data == 0) {
    lastError_ = ERROR_INVALID_PARAMETER;
    return false;
  }
  HIDP_CAPS native{};
  const NTSTATUS status = HidP_GetCaps(toPreparsed(data), &native);
  captureLastError();
  if (status != HIDP_STATUS_SUCCESS) return false;
  caps.usage = native.Usage;
  caps.usagePage = native.UsagePage;
  caps.inputReportByteLength = native.InputReportByteLength;
  caps.outputReportByteLength = native.OutputReportByteLength;
  caps.featureReportByteLength = native.FeatureReportByteLength;
  std::copy(std::begin(native.Reserved), std::end(native.Reserved), std::begin(caps.reserved));
  caps.numberLinkCollectionNodes = native.NumberLinkCollectionNodes;
  caps.numberInputButtonCaps = native.NumberInputButtonCaps;
  caps.numberInputValueCaps = native.NumberInputValueCaps;
  caps.numberInputDataIndices = native.NumberInputDataIndices;
  caps.numberOutputButtonCaps = native.NumberOutputButtonCaps;
  caps.numberOutputValueCaps = native.NumberOutputValueCaps;
  caps.numberOutputDataIndices = native.NumberOutputDataIndices;
  caps.numberFeatureButtonCaps = native.NumberFeatureButtonCaps;
  caps.numberFeatureValueCaps = native.NumberFeatureValueCaps;
  caps.numberFeatureDataIndices = native.NumberFeatureDataIndices;
  return true;
}

bool WinHidPlatform::getValueCaps(int reportType, std::uint16_t& count, PreparsedData data) {
  if (data == 0) {
    lastError_ = ERROR_INVALID_PARAMETER;
    return false;
  }
  // Room for every record the caller's count announces, and never less than
  // 1024 bytes.
  const std::size_t minRecords =
      (kMinValueCapsBytes + sizeof(HIDP_VALUE_CAPS) - 1) / sizeof(HIDP_VALUE_CAPS);
  std::vector<HIDP_VALUE_CAPS> records(std::max<std::size_t>(count, minRecords));
  USHORT length = count;
  const NTSTATUS status =
      HidP_GetValueCaps(static_cast<HIDP_REPORT_TYPE>(reportType), records.data(), &length, toPreparsed(data));
  captureLastError();
  count = length;
  return status == HIDP_STATUS_SUCCESS;
}

bool WinHidPlatform::freePreparsedData(PreparsedData data) {
  if (data == 0) {
    lastError_ = ERROR_INVALID_PARAMETER;
    return false;
  }
  const BOOLEAN ok = HidD_FreePreparsedData(toPreparsed(data));
  captureLastError();
  return ok != FALSE;
}

HidPlatform::EventHandle WinHidPlatform::createEvent(bool manualReset, bool initialState) {
  SECURITY_ATTRIBUTES sa = inheritable();
  HANDLE e = CreateEventA(&sa, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, "");
  captureLastError();
  if (e == nullptr) return 0;
  const EventHandle result = fromHandle(e);
  events_.insert(result);
  return result;
}

bool WinHidPlatform::resetEvent(EventHandle event) {
  const BOOL ok = ResetEvent(toHandle(event));
  captureLastError();
  return ok != FALSE;
}

bool WinHidPlatform::writeFile(Handle handle, const std::uint8_t* data, std::uint32_t length,
                               std::uint32_t& written) {
  DWORD done = 0;
  const BOOL ok = WriteFile(toHandle(handle), data, length, &done, nullptr);
  captureLastError();
  written = done;
  return ok != FALSE;
}

bool WinHidPlatform::readFile(Handle handle, std::uint8_t* buffer, std::uint32_t length, EventHandle event) {
  // One read per handle: an earlier read the caller walked away from would
  // otherwise take the next input report.
  drainReads(handle, true);
  for (auto& r : reads_)
    if (r->event == event) r->target = nullptr;

  auto read = std::make_unique<PendingRead>();
  read->handle = handle;
  read->event = event;
  read->target = buffer;
  read->data.assign(length, 0);
  read->overlapped.hEvent = toHandle(event);
  DWORD done = 0;
  const BOOL ok = ReadFile(toHandle(handle), read->data.data(), length, &done, &read->overlapped);
  captureLastError();
  if (ok || lastError_ == ERROR_IO_PENDING) reads_.push_back(std::move(read));
  return ok != FALSE;
}

std::uint32_t WinHidPlatform::waitForSingleObject(EventHandle event, std::uint32_t milliseconds) {
  const DWORD result = WaitForSingleObject(toHandle(event), milliseconds);
  captureLastError();
  if (result != WAIT_OBJECT_0) return result;
  // A read on an unplugged device completes at once with an error: no report
  // came, so it ends the wait as the time-out it stands for, with the reason.
  if (const std::uint32_t failed = deliverCompleted(event)) {
    lastError_ = failed;
    return WAIT_TIMEOUT;
  }
  return result;
}

bool WinHidPlatform::cancelIo(Handle handle) {
  const BOOL ok = CancelIo(toHandle(handle));
  captureLastError();
  const std::uint32_t cancelError = lastError_;
  // Only once the cancelled reads have finished can their records go.
  drainReads(handle, false);
  lastError_ = cancelError;
  return ok != FALSE;
}

std::string WinHidPlatform::formatMessage(std::uint32_t code, std::uint32_t maxChars) {
  std::string buffer(static_cast<std::size_t>(maxChars) + 1, '\0');
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, buffer.data(), maxChars, nullptr);
  buffer.resize(std::min<std::size_t>(n, maxChars));
  return buffer;
}

void WinHidPlatform::drainReads(Handle handle, bool cancel) {
  bool any = false;
  for (auto& r : reads_) any = any || r->handle == handle;
  if (!any) return;
  const DWORD saved = GetLastError();
  if (cancel) CancelIo(toHandle(handle));
  for (auto& r : reads_) {
    if (r->handle != handle) continue;
    // GetOverlappedResult(..., TRUE) with a bound: a driver that ignored the
    // cancel must not hang the window.
    for (int i = 0; i < kCancelWaitSteps && !HasOverlappedIoCompleted(&r->overlapped); ++i)
      WaitForSingleObject(r->overlapped.hEvent, kCancelWaitStepMs);
    DWORD done = 0;
    if (HasOverlappedIoCompleted(&r->overlapped)) {
      GetOverlappedResult(toHandle(handle), &r->overlapped, &done, FALSE);
    } else {
      // The system may still write into the record: it is never released.
      (void)r.release();
    }
  }
  reads_.erase(std::remove_if(reads_.begin(), reads_.end(),
                              [&](const auto& r) { return !r || r->handle == handle; }),
               reads_.end());
  SetLastError(saved);
}

std::uint32_t WinHidPlatform::deliverCompleted(EventHandle event) {
  const DWORD saved = GetLastError();
  std::uint32_t failed = 0;
  for (auto it = reads_.begin(); it != reads_.end();) {
    PendingRead& r = **it;
    if (r.event != event || !HasOverlappedIoCompleted(&r.overlapped)) {
      ++it;
      continue;
    }
    DWORD done = 0;
    if (!GetOverlappedResult(toHandle(r.handle), &r.overlapped, &done, FALSE)) {
      if (r.target != nullptr) failed = static_cast<std::uint32_t>(GetLastError());
    } else if (r.target != nullptr) {
      std::memcpy(r.target, r.data.data(), std::min<std::size_t>(done, r.data.size()));
    }
    it = reads_.erase(it);
  }
  SetLastError(saved);
  return failed;
}

}  // namespace kelvane
