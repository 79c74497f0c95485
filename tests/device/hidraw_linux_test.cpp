#include "device/hidraw_linux.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "device/device_link.h"
#include "support/error_handler.h"
#include "support/status_log.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

int openFdCount() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

// A scratch sysfs class folder and dev folder.
struct FakeTree : ::testing::Test {
  fs::path root, sysfs, dev;
  HidrawPlatform platform{"", ""};

  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "hidraw-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root = pattern;
    sysfs = root / "class";
    dev = root / "dev";
    fs::create_directories(sysfs);
    fs::create_directories(dev);
    platform = HidrawPlatform(sysfs.string(), dev.string());
  }
  void TearDown() override { fs::remove_all(root); }

  void sysfsEntry(const std::string& name) { fs::create_directories(sysfs / name); }
  void fifoNode(const std::string& name) { ASSERT_EQ(::mkfifo((dev / name).c_str(), 0600), 0); }
  void fileNode(const std::string& name) { std::ofstream(dev / name) << "not a hid device"; }

  // The interface paths of a fresh enumeration, read with the two detail calls.
  std::vector<std::string> paths(HidPlatform::DeviceInfoSet set) {
    std::vector<std::string> result;
    const Guid guid = platform.getHidGuid();
    DeviceInterfaceData data;
    for (std::uint32_t i = 0; platform.enumDeviceInterfaces(set, guid, i, data); ++i) {
      std::uint32_t needed = 0;
      EXPECT_FALSE(platform.getDeviceInterfaceDetail(set, data, nullptr, 0, needed));
      EXPECT_EQ(platform.getLastError(), static_cast<std::uint32_t>(ENOBUFS));
      std::vector<char> buffer(needed + 1, '\0');
      EXPECT_TRUE(platform.getDeviceInterfaceDetail(set, data, buffer.data(), needed, needed));
      result.emplace_back(buffer.data() + 4);
    }
    EXPECT_EQ(platform.getLastError(), static_cast<std::uint32_t>(ENODATA));
    return result;
  }
};

TEST_F(FakeTree, EnumerationIsANumericallyOrderedSnapshotOfHidrawNodes) {
  for (const char* name : {"hidraw10", "hidraw2", "hidraw0", "hidrawX", "hidraw", "input3"}) sysfsEntry(name);
  const Guid hid = platform.getHidGuid();
  EXPECT_EQ(hid.data1, 0x4D1E55B2u);
  EXPECT_EQ(hid.data4[7], 0x30);
  const auto set = platform.getClassDevs(hid);
  ASSERT_NE(set, kInvalidHandle);
  sysfsEntry("hidraw1");  // arrives after the snapshot
  const std::string d = dev.string();
  EXPECT_EQ(paths(set), (std::vector<std::string>{d + "/hidraw0", d + "/hidraw2", d + "/hidraw10"}));
  EXPECT_EQ(paths(platform.getClassDevs(hid)).size(), 4u);
  EXPECT_TRUE(platform.destroyDeviceInfoList(set));
  DeviceInterfaceData data;
  EXPECT_FALSE(platform.enumDeviceInterfaces(set, hid, 0, data));

  Guid other = hid;
  other.data1 ^= 1;
  EXPECT_TRUE(paths(platform.getClassDevs(other)).empty());
}

TEST_F(FakeTree, MissingClassFolderIsAnEmptyListButAnUnreadableOneFails) {
  HidrawPlatform absent((root / "nothing").string(), dev.string());
  const auto set = absent.getClassDevs(absent.getHidGuid());
  ASSERT_NE(set, kInvalidHandle);
  DeviceInterfaceData data;
  EXPECT_FALSE(absent.enumDeviceInterfaces(set, absent.getHidGuid(), 0, data));

  fileNode("plain");
  HidrawPlatform notADir((dev / "plain").string(), dev.string());
  EXPECT_EQ(notADir.getClassDevs(notADir.getHidGuid()), kInvalidHandle);
  EXPECT_EQ(notADir.getLastError(), static_cast<std::uint32_t>(ENOTDIR));
}

struct LinkOnTree : FakeTree {
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};

  void SetUp() override {
    FakeTree::SetUp();
    log.setShowStatus(true);
    log.setClock([] { return std::string("t"); });
  }
  int lines(const std::string& text) const {
    std::istringstream in(log.logText());
    int n = 0;
    for (std::string line; std::getline(in, line);) n += line == "t: " + text + "\r";
    return n;
  }
};

TEST_F(LinkOnTree, RealMachineWithoutHidrawNodesFindsNothingAfterOneAttempt) {
  HidrawPlatform real;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/sys/class/hidraw", ec))
    if (e.path().filename().string().rfind("hidraw", 0) == 0) GTEST_SKIP() << "this machine has hidraw devices";
  DeviceLink link(real, log, errors);
  link.dimmerVendorId = kDefaultVendorId;
  link.dimmerProductId = kDefaultProductId;
  EXPECT_FALSE(link.findTheHid());
  EXPECT_EQ(lines("SetupDiEnumDeviceInterfaces"), 1);
  EXPECT_EQ(lines(" Device not found."), 1);
  EXPECT_EQ(lines("  GUID for system HIDs: 4D1E55B2-F16F-11CF-88 CB 00 11 11 00 00 30 "), 1);
  EXPECT_FALSE(link.hidHandleOpen());
}

TEST_F(LinkOnTree, NodesThatCannotBeOpenedOrQueriedAreSkippedAndClosed) {
  sysfsEntry("hidraw0");             // no dev node at all
  sysfsEntry("hidraw1");
  fs::create_directories(dev / "hidraw1");  // cannot be opened for writing
  sysfsEntry("hidraw2");
  fileNode("hidraw2");               // opens, but is no hidraw device
  const int fdsBefore = openFdCount();
  DeviceLink link(platform, log, errors);
  link.dimmerVendorId = kDefaultVendorId;
  link.dimmerProductId = kDefaultProductId;
  EXPECT_FALSE(link.findTheHid());
  EXPECT_EQ(lines("SetupDiEnumDeviceInterfaces"), 4);
  EXPECT_EQ(lines("  Result = " + std::string(std::strerror(ENOENT))), 1);
  EXPECT_EQ(lines("  Result = " + std::string(std::strerror(EISDIR))), 1);
  EXPECT_EQ(lines("  Result = " + std::string(std::strerror(ENOTTY))), 1);
  EXPECT_EQ(lines("  Error in filling HIDD_ATTRIBUTES structure."), 3);
  EXPECT_EQ(lines("  Returned handle: FFFFFFFFh"), 2);
  EXPECT_EQ(lines(" Device not found."), 1);
  EXPECT_EQ(openFdCount(), fdsBefore);

  const Handle h = platform.createFile((dev / "hidraw2").string(), false);
  ASSERT_NE(h, kInvalidHandle);
  HidAttributes attributes{12, 0x1111, 0x2222, 0x3333};
  EXPECT_FALSE(platform.getAttributes(h, attributes));
  EXPECT_EQ(attributes.vendorId, 0x1111);  // left as it was
  EXPECT_EQ(attributes.versionNumber, 0x3333);
  EXPECT_EQ(platform.getPreparsedData(h), 0);
  EXPECT_EQ(platform.getLastError(), static_cast<std::uint32_t>(ENOTTY));
  EXPECT_TRUE(platform.closeHandle(h));
  EXPECT_FALSE(platform.closeHandle(h));
}

TEST_F(FakeTree, ManualResetEventStaysSignalledUntilReset) {
  const auto manual = platform.createEvent(true, true);
  EXPECT_EQ(platform.waitForSingleObject(manual, 0), kWaitObject0);
  EXPECT_EQ(platform.waitForSingleObject(manual, 0), kWaitObject0);
  EXPECT_TRUE(platform.resetEvent(manual));
  const auto start = Clock::now();
  EXPECT_EQ(platform.waitForSingleObject(manual, 30), kWaitTimeout);
  EXPECT_GE(msSince(start), 30);
  EXPECT_EQ(platform.waitForSingleObject(12345, 0), kWaitFailed);
  EXPECT_FALSE(platform.resetEvent(12345));
}

// A FIFO stands in for a device node: what the plain handle writes, the
// overlapped handle reads, as the dimmer's answer would arrive.
struct FifoDevice : FakeTree {
  Handle writer = kInvalidHandle, reader = kInvalidHandle;
  HidPlatform::EventHandle event = 0;
  std::uint8_t buffer[9];
  const std::uint8_t report[8] = {0x21, 0xBC, 0x02, 4, 5, 6, 7, 8};

  void SetUp() override {
    FakeTree::SetUp();
    fifoNode("hidraw0");
    writer = platform.createFile((dev / "hidraw0").string(), false);
    reader = platform.createFile((dev / "hidraw0").string(), true);
    ASSERT_NE(writer, kInvalidHandle);
    ASSERT_NE(reader, kInvalidHandle);
    event = platform.createEvent(true, true);
    std::memset(buffer, 0xEE, sizeof buffer);
  }
  void TearDown() override {
    platform.closeHandle(writer);
    platform.closeHandle(reader);
    FakeTree::TearDown();
  }
  void answer() {
    std::uint32_t written = 0;
    ASSERT_TRUE(platform.writeFile(writer, report, sizeof report, written));
    ASSERT_EQ(written, sizeof report);
  }
  bool untouched() const {
    for (std::uint8_t b : buffer) if (b != 0xEE) return false;
    return true;
  }
};

TEST_F(FifoDevice, PendingReadCompletesInTheWaitWithReportIdZeroInFront) {
  EXPECT_FALSE(platform.readFile(reader, buffer, sizeof buffer, event));
  EXPECT_EQ(platform.getLastError(), static_cast<std::uint32_t>(EAGAIN));
  EXPECT_TRUE(untouched());
  answer();
  const auto start = Clock::now();
  EXPECT_EQ(platform.waitForSingleObject(event, 2000), kWaitObject0);
  EXPECT_LT(msSince(start), 1000);
  const std::uint8_t expected[9] = {0, 0x21, 0xBC, 0x02, 4, 5, 6, 7, 8};
  EXPECT_EQ(std::memcmp(buffer, expected, 9), 0);

  answer();  // already waiting: the read completes at once
  std::memset(buffer, 0, sizeof buffer);
  EXPECT_TRUE(platform.readFile(reader, buffer, sizeof buffer, event));
  EXPECT_EQ(platform.waitForSingleObject(event, 0), kWaitObject0);
  EXPECT_EQ(buffer[2], 0xBC);
}

TEST_F(FifoDevice, CancelledOrClosedReadsNeverWriteIntoTheirBuffer) {
  EXPECT_FALSE(platform.readFile(reader, buffer, sizeof buffer, event));
  EXPECT_TRUE(platform.cancelIo(reader));
  answer();
  EXPECT_EQ(platform.waitForSingleObject(event, 30), kWaitTimeout);
  EXPECT_TRUE(untouched());

  // Closing forgets the read too, even when the number comes back for another file.
  std::uint8_t scratch[9];
  EXPECT_TRUE(platform.readFile(reader, scratch, sizeof scratch, event));  // drains the answer
  EXPECT_FALSE(platform.readFile(reader, buffer, sizeof buffer, event));
  EXPECT_TRUE(platform.closeHandle(reader));
  const Handle old = reader;
  reader = platform.createFile((dev / "hidraw0").string(), true);
  EXPECT_EQ(reader, old);
  answer();
  EXPECT_EQ(platform.waitForSingleObject(event, 30), kWaitTimeout);
  EXPECT_TRUE(untouched());
}

TEST_F(FifoDevice, ReadOnAClosedHandleFailsAndTheWaitRunsItsFullBound) {
  ASSERT_TRUE(platform.resetEvent(event));  // as every earlier read left it
  EXPECT_FALSE(platform.readFile(kInvalidHandle, buffer, sizeof buffer, event));
  EXPECT_EQ(platform.getLastError(), static_cast<std::uint32_t>(EBADF));
  EXPECT_FALSE(platform.cancelIo(kInvalidHandle));
  const auto start = Clock::now();
  EXPECT_EQ(platform.waitForSingleObject(event, 40), kWaitTimeout);
  EXPECT_GE(msSince(start), 40);
  std::uint32_t written = 0;
  EXPECT_FALSE(platform.writeFile(kInvalidHandle, report, sizeof report, written));
}

TEST(HidrawMessages, TextIsStrerrorWithLineEndWhenItFits) {
  HidrawPlatform platform;
  const std::string enoent = std::string(std::strerror(ENOENT)) + "\r\n";
  EXPECT_EQ(platform.formatMessage(ENOENT, 128), enoent);
  EXPECT_EQ(platform.formatMessage(ENOENT, static_cast<std::uint32_t>(enoent.size()) + 1), enoent);
  EXPECT_EQ(platform.formatMessage(ENOENT, static_cast<std::uint32_t>(enoent.size())), "");
  EXPECT_EQ(platform.formatMessage(0, 128), std::string(std::strerror(0)) + "\r\n");
  EXPECT_EQ(platform.formatMessage(98765, 128), "");
  EXPECT_EQ(platform.formatMessage(0xFFFFFFFF, 128), "");
}

}  // namespace
}  // namespace kelvane
