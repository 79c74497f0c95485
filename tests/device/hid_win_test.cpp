// The Windows HID backend against the system's own HID stack. Under wine the
// machine offers either no HID interface at all (winebus.sys disabled when
// the wine server started) or wine's virtual mouse and keyboard; the tests
// that need an interface skip when there is none.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "device/device_link.h"
#include "device/hid_win.h"
#include "support/error_handler.h"
#include "support/status_log.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

struct Present {
  std::string path;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint16_t inputLength = 0;
};

// The HID interfaces the system offers, read straight through the backend.
std::vector<Present> presentInterfaces() {
  WinHidPlatform hid;
  std::vector<Present> found;
  const Guid guid = hid.getHidGuid();
  const auto set = hid.getClassDevs(guid);
  for (std::uint32_t i = 0;; ++i) {
    DeviceInterfaceData data;
    data.cbSize = 28;
    if (!hid.enumDeviceInterfaces(set, guid, i, data)) break;
    std::uint32_t needed = 0;
    hid.getDeviceInterfaceDetail(set, data, nullptr, 0, needed);
    std::vector<char> detail(needed + 1, '\0');
    const std::uint32_t five = 5;
    std::memcpy(detail.data(), &five, 4);
    if (!hid.getDeviceInterfaceDetail(set, data, detail.data(), needed, needed)) continue;
    Present p;
    p.path = detail.data() + 4;
    const Handle h = hid.createFile(p.path, false);
    HidAttributes a;
    if (hid.getAttributes(h, a)) {
      p.vendorId = a.vendorId;
      p.productId = a.productId;
    }
    const auto pre = hid.getPreparsedData(h);
    HidCaps caps;
    if (pre != 0 && hid.getCaps(pre, caps)) p.inputLength = caps.inputReportByteLength;
    if (pre != 0) hid.freePreparsedData(pre);
    if (h != kInvalidHandle) hid.closeHandle(h);
    found.push_back(p);
  }
  hid.destroyDeviceInfoList(set);
  return found;
}

bool winebusDisabled() {
  const char* overrides = std::getenv("WINEDLLOVERRIDES");
  return overrides && std::strstr(overrides, "winebus.sys=d") != nullptr;
}

// The system's text for a code, without its line end.
std::string systemText(std::uint32_t code) {
  char buffer[1024] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, buffer, sizeof buffer, nullptr);
  while (n > 0 && (buffer[n - 1] == '\n' || buffer[n - 1] == '\r')) --n;
  return std::string(buffer, n);
}

// Forwards to the real backend and records what the link asked and got.
class Recording final : public HidPlatform {
 public:
  explicit Recording(WinHidPlatform& real) : real_(real) {}
  std::vector<std::uint32_t> waits;
  std::vector<bool> cancels;
  // The system reuses handle values, so closes are checked against what is
  // open at the time.
  std::multiset<Handle> open;
  int closes = 0;
  int strayCloses = 0;

  Guid getHidGuid() override { return real_.getHidGuid(); }
  DeviceInfoSet getClassDevs(const Guid& g) override { return real_.getClassDevs(g); }
  bool enumDeviceInterfaces(DeviceInfoSet s, const Guid& g, std::uint32_t i, DeviceInterfaceData& d) override {
    return real_.enumDeviceInterfaces(s, g, i, d);
  }
  bool getDeviceInterfaceDetail(DeviceInfoSet s, const DeviceInterfaceData& d, char* b, std::uint32_t n,
                                std::uint32_t& r) override {
    return real_.getDeviceInterfaceDetail(s, d, b, n, r);
  }
  bool destroyDeviceInfoList(DeviceInfoSet s) override { return real_.destroyDeviceInfoList(s); }
  Handle createFile(const std::string& p, bool o) override {
    const Handle h = real_.createFile(p, o);
    if (h != kInvalidHandle) open.insert(h);
    return h;
  }
  bool closeHandle(Handle h) override {
    ++closes;
    const auto it = open.find(h);
    if (it == open.end()) {
      ++strayCloses;
    } else {
      open.erase(it);
    }
    return real_.closeHandle(h);
  }
  bool getAttributes(Handle h, HidAttributes& a) override { return real_.getAttributes(h, a); }
  PreparsedData getPreparsedData(Handle h) override { return real_.getPreparsedData(h); }
  bool getCaps(PreparsedData d, HidCaps& c) override { return real_.getCaps(d, c); }
  bool getValueCaps(int t, std::uint16_t& c, PreparsedData d) override { return real_.getValueCaps(t, c, d); }
  bool freePreparsedData(PreparsedData d) override { return real_.freePreparsedData(d); }
  EventHandle createEvent(bool m, bool i) override { return real_.createEvent(m, i); }
  bool resetEvent(EventHandle e) override { return real_.resetEvent(e); }
  bool writeFile(Handle h, const std::uint8_t* d, std::uint32_t n, std::uint32_t& w) override {
    return real_.writeFile(h, d, n, w);
  }
  bool readFile(Handle h, std::uint8_t* b, std::uint32_t n, EventHandle e) override {
    return real_.readFile(h, b, n, e);
  }
  std::uint32_t waitForSingleObject(EventHandle e, std::uint32_t ms) override {
    waits.push_back(real_.waitForSingleObject(e, ms));
    return waits.back();
  }
  bool cancelIo(Handle h) override {
    cancels.push_back(real_.cancelIo(h));
    return cancels.back();
  }
  std::uint32_t getLastError() override { return real_.getLastError(); }
  std::string formatMessage(std::uint32_t c, std::uint32_t m) override { return real_.formatMessage(c, m); }

 private:
  WinHidPlatform& real_;
};

struct WinHidLink : ::testing::Test {
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};
  WinHidPlatform hid;
  Recording recording{hid};
  DeviceLink link{recording, log, errors};

  void SetUp() override {
    log.setShowStatus(true);
    log.setClock([] { return std::string("T"); });
    link.dimmerVendorId = kDefaultVendorId;
    link.dimmerProductId = kDefaultProductId;
  }

  // The recorded lines, oldest first, without their time.
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    std::istringstream in(log.logText());
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      out.insert(out.begin(), line.substr(3));
    }
    return out;
  }
  int count(const std::string& text) const {
    int n = 0;
    for (const auto& l : lines()) n += l == text;
    return n;
  }
  // The line that follows the first occurrence of `text`.
  std::string after(const std::string& text) const {
    const auto all = lines();
    for (std::size_t i = 0; i + 1 < all.size(); ++i)
      if (all[i] == text) return all[i + 1];
    return "<missing>";
  }
  // What follows `prefix` on every line that starts with it, in order.
  std::vector<std::string> values(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& l : lines())
      if (l.compare(0, prefix.size(), prefix) == 0) out.push_back(l.substr(prefix.size()));
    return out;
  }
};

TEST_F(WinHidLink, WithoutHidInterfacesDiscoveryStopsAfterOneAttempt) {
  const auto present = presentInterfaces();
  if (winebusDisabled()) {
    ASSERT_TRUE(present.empty()) << "winebus.sys is disabled, yet the system offers " << present.size()
                                 << " HID interfaces: the wine server was not started afresh";
  } else if (!present.empty()) {
    GTEST_SKIP() << "the system offers " << present.size()
                 << " HID interfaces; run with WINEDLLOVERRIDES=winebus.sys=d in a fresh wine server";
  }

  EXPECT_FALSE(link.findTheHid());
  EXPECT_FALSE(link.deviceDetected);
  EXPECT_EQ(count("SetupDiEnumDeviceInterfaces"), 1);
  EXPECT_EQ(after("SetupDiEnumDeviceInterfaces"), "  Result = " + systemText(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(count("  Device pathname: "), 0);
  EXPECT_EQ(lines().back(), " Device not found.");
  EXPECT_EQ(hid.openHandleCount(), 0);
  EXPECT_EQ(recording.closes, 0);
}

TEST_F(WinHidLink, TheHidClassGuidIsLoggedInTheLinksLayout) {
  link.findTheHid();
  EXPECT_EQ(count("  GUID for system HIDs: 4D1E55B2-F16F-11CF-88 CB 00 11 11 00 00 30 "), 1);
}

TEST_F(WinHidLink, EveryNonMatchingInterfaceIsOpenedQueriedAndClosed) {
  const auto present = presentInterfaces();
  if (present.empty()) GTEST_SKIP() << "the system offers no HID interface";

  EXPECT_FALSE(link.findTheHid());
  std::vector<std::string> paths, devices, vendors, products, sizes;
  for (const auto& p : present) {
    paths.push_back("    " + p.path);
    devices.push_back(std::to_string(devices.size()) + ": ");
    vendors.push_back(hexText(p.vendorId));
    products.push_back(hexText(p.productId));
    // The size query reports the native detail record: cbSize, then the path.
    sizes.push_back(std::to_string(4 + p.path.size() + 1));
  }
  EXPECT_EQ(values("  DeviceInfoSet for device #"), devices);
  EXPECT_EQ(values("  Vendor ID: "), vendors);
  EXPECT_EQ(values("  Product ID: "), products);
  EXPECT_EQ(values("  Required buffer size for the data: "), sizes);
  const int n = static_cast<int>(present.size());
  std::vector<std::string> logged;
  for (const auto& v : values("    ")) logged.push_back("    " + v);
  EXPECT_EQ(logged, paths);
  EXPECT_EQ(count("  cbSize = 28"), n);
  EXPECT_EQ(count("  MyDeviceInterfaceDetailData.cbSize: 5"), n);
  EXPECT_EQ(count("  HIDD_ATTRIBUTES structure filled without error."), n);
  EXPECT_EQ(count("SetupDiEnumDeviceInterfaces"), n + 1);
  EXPECT_EQ(count("CloseHandle"), n);
  EXPECT_EQ(lines().back(), " Device not found.");
  EXPECT_EQ(recording.closes, n);
  EXPECT_EQ(recording.strayCloses, 0);
  EXPECT_TRUE(recording.open.empty());
  EXPECT_EQ(hid.openHandleCount(), 0);
}

struct WinHidMatched : WinHidLink {
  Present target;
  void SetUp() override {
    WinHidLink::SetUp();
    const auto present = presentInterfaces();
    if (present.empty()) GTEST_SKIP() << "the system offers no HID interface";
    // The last interface, so that the ones before it are passed over first.
    target = present.back();
    link.dimmerVendorId = static_cast<std::int16_t>(target.vendorId);
    link.dimmerProductId = static_cast<std::int16_t>(target.productId);
    ASSERT_TRUE(link.findTheHid());
    link.readTimeoutMs = 50;
  }
  void TearDown() override { link.closeHandles(); }
};

TEST_F(WinHidMatched, TheMatchIsOpenedTwiceWithItsCapabilitiesAndAReadEvent) {
  EXPECT_EQ(link.devicePath, target.path);
  EXPECT_EQ(hid.openHandleCount(), 2);
  EXPECT_NE(link.hidHandle, link.readHandle);
  EXPECT_EQ(link.deviceCaps.inputReportByteLength, target.inputLength);
  EXPECT_NE(link.readEvent, 0);
  EXPECT_EQ(after("HidP_GetCaps"), "  Result = " + systemText(ERROR_SUCCESS));
  EXPECT_EQ(count("  My device detected"), 1);

  // A second discovery reuses the event.
  const auto event = link.readEvent;
  link.closeHandles();
  EXPECT_EQ(hid.openHandleCount(), 0);
  ASSERT_TRUE(link.findTheHid());
  EXPECT_EQ(link.readEvent, event);
}

TEST_F(WinHidMatched, AReadWithoutAnswerTimesOutCancelsAndClosesBothHandlesOnce) {
  const int closedInDiscovery = recording.closes;
  const auto answer = link.readReport();

  EXPECT_EQ(answer, std::vector<std::uint8_t>(target.inputLength, 0));
  EXPECT_EQ(recording.waits, std::vector<std::uint32_t>{258});
  EXPECT_EQ(recording.cancels, std::vector<bool>{true});
  EXPECT_EQ(count("Readfile timeout"), 1);
  EXPECT_EQ(after("ReadFile"), "  Result = " + systemText(ERROR_IO_PENDING));
  EXPECT_FALSE(link.deviceDetected);
  EXPECT_EQ(hid.pendingReadCount(), 0);
  EXPECT_EQ(hid.openHandleCount(), 0);

  // Before the next discovery nothing is closed again; the read fails and
  // waits out its bound on the reset event.
  link.readReport();
  link.closeHandles();
  EXPECT_EQ(recording.waits, (std::vector<std::uint32_t>{258, 258}));
  EXPECT_EQ(recording.closes - closedInDiscovery, 2);
  EXPECT_EQ(recording.strayCloses, 0);
  EXPECT_TRUE(recording.open.empty());
  EXPECT_EQ(count("Readfile timeout"), 2);
}

TEST_F(WinHidMatched, AReadLeftPendingEndsWithItsHandle) {
  const Handle h = hid.createFile(target.path, true);
  ASSERT_NE(h, kInvalidHandle);
  std::vector<std::uint8_t> buffer(target.inputLength, 0xA5);
  hid.readFile(h, buffer.data(), static_cast<std::uint32_t>(buffer.size()), link.readEvent);
  EXPECT_EQ(hid.getLastError(), static_cast<std::uint32_t>(ERROR_IO_PENDING));
  // A second read replaces the first rather than queueing behind it.
  hid.readFile(h, buffer.data(), static_cast<std::uint32_t>(buffer.size()), link.readEvent);
  EXPECT_EQ(hid.pendingReadCount(), 1);
  EXPECT_EQ(hid.waitForSingleObject(link.readEvent, 20), kWaitTimeout);

  EXPECT_TRUE(hid.closeHandle(h));
  EXPECT_EQ(hid.pendingReadCount(), 0);
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(target.inputLength, 0xA5));
}

TEST_F(WinHidMatched, TheLinksRecordSizesAreCheckedAndTranslated) {
  const Guid guid = hid.getHidGuid();
  const auto set = hid.getClassDevs(guid);
  DeviceInterfaceData data;
  data.cbSize = 32;  // the native size is not what the link speaks
  EXPECT_FALSE(hid.enumDeviceInterfaces(set, guid, 0, data));
  EXPECT_EQ(hid.getLastError(), static_cast<std::uint32_t>(ERROR_INVALID_USER_BUFFER));
  data.cbSize = 28;
  ASSERT_TRUE(hid.enumDeviceInterfaces(set, guid, 0, data));
  std::uint32_t needed = 0;
  EXPECT_FALSE(hid.getDeviceInterfaceDetail(set, data, nullptr, 0, needed));
  EXPECT_EQ(hid.getLastError(), static_cast<std::uint32_t>(ERROR_INSUFFICIENT_BUFFER));

  struct Case {
    std::uint32_t cbSize;
    std::uint32_t size;
    bool ok;
    DWORD error;
  };
  for (const Case c : {Case{5, needed, true, ERROR_SUCCESS}, Case{8, needed, false, ERROR_INVALID_USER_BUFFER},
                       Case{5, needed - 1, false, ERROR_INSUFFICIENT_BUFFER}}) {
    SCOPED_TRACE(std::to_string(c.cbSize) + "/" + std::to_string(c.size));
    std::vector<char> buffer(needed + 1, 'x');
    std::memcpy(buffer.data(), &c.cbSize, 4);
    std::uint32_t required = 0;
    EXPECT_EQ(hid.getDeviceInterfaceDetail(set, data, buffer.data(), c.size, required), c.ok);
    if (c.error != ERROR_SUCCESS) {
      EXPECT_EQ(hid.getLastError(), c.error);
    }
    std::uint32_t cbSize = 0;
    std::memcpy(&cbSize, buffer.data(), 4);
    EXPECT_EQ(cbSize, c.cbSize);  // the caller's record keeps its own size
    if (c.ok) {
      EXPECT_EQ(std::string(buffer.data() + 4), presentInterfaces().front().path);
    }
    EXPECT_EQ(buffer[needed], 'x');  // nothing past the size given
  }
  hid.destroyDeviceInfoList(set);
}

TEST(WinHidPlatform, SystemTextsKeepTheirLineEndAndUnknownCodesHaveNone) {
  WinHidPlatform hid;
  const std::string success = hid.formatMessage(ERROR_SUCCESS, 128);
  ASSERT_GT(success.size(), 2u);
  EXPECT_EQ(success.substr(success.size() - 2), "\r\n");
  EXPECT_EQ(success.substr(0, success.size() - 2), systemText(ERROR_SUCCESS));
  EXPECT_EQ(hid.formatMessage(0x2FFFFFFF, 128), "");
  // A text longer than the buffer is not returned cut off.
  EXPECT_EQ(hid.formatMessage(ERROR_SUCCESS, 3), "");
}

}  // namespace
}  // namespace kelvane
