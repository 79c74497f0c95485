// The Windows HID backend against the system's own HID stack. Under wine the
// machine offers either no HID interface (winebus.sys disabled when the wine
// session started) or wine's virtual mouse and keyboard, which never send an
// input report; tests needing an interface skip when there is none.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "device/device_link.h"
#include "device/hid_win.h"
#include "support/error_handler.h"
#include "support/status_log.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

struct Present {
  std::string path;
  HidAttributes ids;
  std::uint16_t inputLength = 0;
};

// The HID interfaces on offer, read straight through the backend.
std::vector<Present> presentInterfaces() {
  WinHidPlatform hid;
  std::vector<Present> found;
  const Guid guid = hid.getHidGuid();
  const auto set = hid.getClassDevs(guid);
  DeviceInterfaceData data;
  data.cbSize = 28;
  for (std::uint32_t i = 0; hid.enumDeviceInterfaces(set, guid, i, data); ++i) {
    std::uint32_t needed = 0;
    hid.getDeviceInterfaceDetail(set, data, nullptr, 0, needed);
    std::vector<char> detail(needed + 1, '\0');
    detail[0] = 5;
    hid.getDeviceInterfaceDetail(set, data, detail.data(), needed, needed);
    Present p{detail.data() + 4, {}, 0};
    const Handle h = hid.createFile(p.path, false);
    hid.getAttributes(h, p.ids);
    HidCaps caps;
    if (const auto pre = hid.getPreparsedData(h); pre != 0 && hid.getCaps(pre, caps) && hid.freePreparsedData(pre))
      p.inputLength = caps.inputReportByteLength;
    if (h != kInvalidHandle) hid.closeHandle(h);
    found.push_back(p);
  }
  hid.destroyDeviceInfoList(set);
  return found;
}

std::string systemText(DWORD code) {
  char buffer[1024] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, buffer, sizeof buffer, nullptr);
  while (n > 0 && (buffer[n - 1] == '\n' || buffer[n - 1] == '\r')) --n;
  return std::string(buffer, n);
}

struct WinHidLink : ::testing::Test {
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};
  WinHidPlatform hid;
  DeviceLink link{hid, log, errors};
  std::vector<Present> present = presentInterfaces();

  void SetUp() override {
    log.setShowStatus(true);
    log.setClock([] { return std::string("T"); });
    link.dimmerVendorId = kDefaultVendorId;
    link.dimmerProductId = kDefaultProductId;
  }
  // What follows `prefix` on every recorded line that starts with it, oldest first.
  std::vector<std::string> values(const std::string& prefix) const {
    std::vector<std::string> out;
    std::istringstream in(log.logText());
    for (std::string line; std::getline(in, line);) {
      line = line.substr(3, line.size() - 4);  // "T: " and CR
      if (line.compare(0, prefix.size(), prefix) == 0) out.insert(out.begin(), line.substr(prefix.size()));
    }
    return out;
  }
  std::size_t count(const std::string& line) const {
    const auto v = values(line);
    return static_cast<std::size_t>(std::count(v.begin(), v.end(), ""));
  }
};

TEST_F(WinHidLink, WithoutHidInterfacesDiscoveryStopsAfterOneAttempt) {
  const char* overrides = std::getenv("WINEDLLOVERRIDES");
  if (overrides && std::strstr(overrides, "winebus.sys=d")) {
    ASSERT_TRUE(present.empty()) << "winebus.sys is disabled, yet " << present.size()
                                 << " HID interfaces are on offer: the wine session was not started afresh";
  } else if (!present.empty()) {
    GTEST_SKIP() << present.size() << " HID interfaces on offer; run with WINEDLLOVERRIDES=winebus.sys=d"
                 << " in a fresh wine session";
  }
  EXPECT_FALSE(link.findTheHid());
  EXPECT_EQ(count("SetupDiEnumDeviceInterfaces"), 1u);
  EXPECT_EQ(values("  Result = ").at(2), systemText(ERROR_NO_MORE_ITEMS));  // GUID, class devs, enumeration
  EXPECT_EQ(hid.openHandleCount(), 0);
}

TEST_F(WinHidLink, EveryNonMatchingInterfaceIsOpenedQueriedAndClosed) {
  if (present.empty()) GTEST_SKIP() << "no HID interface on offer";
  EXPECT_FALSE(link.findTheHid());
  std::vector<std::string> paths;
  for (const auto& p : present) paths.push_back(p.path);
  EXPECT_EQ(values("    "), paths);
  EXPECT_EQ(count("  HIDD_ATTRIBUTES structure filled without error."), present.size());
  EXPECT_EQ(count("CloseHandle"), present.size());
  EXPECT_EQ(hid.openHandleCount(), 0);
}

struct WinHidMatched : WinHidLink {
  Present target;
  void SetUp() override {
    WinHidLink::SetUp();
    if (present.empty()) GTEST_SKIP() << "no HID interface on offer";
    target = present.back();  // so that the others are passed over first
    link.dimmerVendorId = static_cast<std::int16_t>(target.ids.vendorId);
    link.dimmerProductId = static_cast<std::int16_t>(target.ids.productId);
    ASSERT_TRUE(link.findTheHid());
    link.readTimeoutMs = 50;
  }
  void TearDown() override { link.closeHandles(); }
};

TEST_F(WinHidMatched, TheMatchIsOpenedTwiceWithItsCapabilitiesAndAnEvent) {
  EXPECT_EQ(link.devicePath, target.path);
  EXPECT_EQ(hid.openHandleCount(), 2);
  EXPECT_EQ(link.deviceCaps.inputReportByteLength, target.inputLength);
  EXPECT_NE(link.readEvent, 0);
  link.closeHandles();
  EXPECT_EQ(hid.openHandleCount(), 0);
}

TEST_F(WinHidMatched, AReadWithoutAnswerTimesOutCancelsAndClosesBothHandles) {
  EXPECT_EQ(link.readReport(), std::vector<std::uint8_t>(target.inputLength, 0));
  EXPECT_EQ(count("Readfile timeout"), 1u);
  EXPECT_FALSE(link.deviceDetected);
  EXPECT_EQ(hid.pendingReadCount(), 0);
  EXPECT_EQ(hid.openHandleCount(), 0);
}

TEST_F(WinHidMatched, AReadLeftPendingEndsWithItsHandleAndNeverWritesTheBuffer) {
  const Handle h = hid.createFile(target.path, true);
  std::vector<std::uint8_t> buffer(target.inputLength, 0xA5);
  const auto length = static_cast<std::uint32_t>(buffer.size());
  hid.readFile(h, buffer.data(), length, link.readEvent);
  EXPECT_EQ(hid.getLastError(), static_cast<std::uint32_t>(ERROR_IO_PENDING));
  hid.readFile(h, buffer.data(), length, link.readEvent);  // replaces the first, no queue
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
  data.cbSize = 32;  // the native size is not the one the link speaks
  EXPECT_FALSE(hid.enumDeviceInterfaces(set, guid, 0, data));
  data.cbSize = 28;
  ASSERT_TRUE(hid.enumDeviceInterfaces(set, guid, 0, data));
  std::uint32_t needed = 0;
  hid.getDeviceInterfaceDetail(set, data, nullptr, 0, needed);
  struct Case {
    std::uint32_t cbSize, size;
    bool ok;
  };
  for (const Case c : {Case{5, needed, true}, Case{8, needed, false}, Case{5, needed - 1, false}}) {
    SCOPED_TRACE(std::to_string(c.cbSize) + "/" + std::to_string(c.size));
    std::vector<char> buffer(needed + 1, 'x');
    std::memcpy(buffer.data(), &c.cbSize, 4);
    EXPECT_EQ(hid.getDeviceInterfaceDetail(set, data, buffer.data(), c.size, needed), c.ok);
    EXPECT_EQ(std::memcmp(buffer.data(), &c.cbSize, 4), 0);  // the caller's record keeps its size
    EXPECT_EQ(buffer[needed], 'x');                          // nothing past the size given
    EXPECT_EQ(c.ok ? std::string(buffer.data() + 4) : "", c.ok ? present.front().path : "");
  }
  hid.destroyDeviceInfoList(set);
}

TEST(WinHidPlatform, SystemTextsKeepTheirLineEndAndOnlyWholeTextsAreReturned) {
  WinHidPlatform hid;
  EXPECT_EQ(hid.formatMessage(ERROR_SUCCESS, 128), systemText(ERROR_SUCCESS) + "\r\n");
  EXPECT_EQ(hid.formatMessage(0x2FFFFFFF, 128), "");
  EXPECT_EQ(hid.formatMessage(ERROR_SUCCESS, 3), "");
}

}  // namespace
}  // namespace kelvane
