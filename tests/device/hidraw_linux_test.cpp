#include "device/hidraw_linux.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "device/device_link.h"
#include "support/error_handler.h"
#include "support/status_log.h"
#include "testkit/files.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

namespace fs = std::filesystem;

int openFdCount() {
  return static_cast<int>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

// A scratch sysfs class folder and dev folder, and a link over them.
struct FakeTree : ::testing::Test {
  testkit::ScratchFolder folder;
  fs::path sysfs = folder.dir / "class", dev = folder.dir / "dev";
  HidrawPlatform platform{sysfs.string(), dev.string()};
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};

  void SetUp() override {
    fs::create_directories(sysfs);
    fs::create_directories(dev);
    log.setShowStatus(true);
    log.setClock([] { return std::string("t"); });
  }
  int lines(const std::string& text) const {
    std::string all = "\n";  // appended: GCC 12 -O3 warns falsely (-Wrestrict) on "\n" + temporary
    all += log.logText();
    const std::string line = "\nt: " + text + "\r";
    int n = 0;
    for (auto at = all.find(line); at != std::string::npos; at = all.find(line, at + 1)) ++n;
    return n;
  }
  bool findTheDimmer(HidPlatform& p) {
    DeviceLink link(p, log, errors);
    link.dimmerVendorId = kDefaultVendorId;
    link.dimmerProductId = kDefaultProductId;
    return link.findTheHid();
  }
  // The interface paths of an enumeration, read with the two detail calls.
  std::vector<std::string> paths(HidPlatform::DeviceInfoSet set) {
    std::vector<std::string> result;
    DeviceInterfaceData data;
    for (std::uint32_t i = 0; platform.enumDeviceInterfaces(set, platform.getHidGuid(), i, data); ++i) {
      std::uint32_t needed = 0;
      EXPECT_FALSE(platform.getDeviceInterfaceDetail(set, data, nullptr, 0, needed));
      std::vector<char> buffer(needed + 1, '\0');
      EXPECT_TRUE(platform.getDeviceInterfaceDetail(set, data, buffer.data(), needed, needed));
      result.emplace_back(buffer.data() + 4);
    }
    return result;
  }
};

TEST_F(FakeTree, EnumerationIsANumericallyOrderedSnapshotOfHidrawNodes) {
  for (const char* name : {"hidraw10", "hidraw2", "hidraw0", "hidrawX", "hidraw", "input3"})
    fs::create_directories(sysfs / name);
  const Guid hid = platform.getHidGuid();
  const auto set = platform.getClassDevs(hid);
  ASSERT_NE(set, kInvalidHandle);
  fs::create_directories(sysfs / "hidraw1");  // arrives after the snapshot
  const std::string d = dev.string();
  EXPECT_EQ(paths(set), (std::vector<std::string>{d + "/hidraw0", d + "/hidraw2", d + "/hidraw10"}));
  EXPECT_EQ(paths(platform.getClassDevs(hid)).size(), 4u);
  Guid other = hid;
  other.data1 ^= 1;
  EXPECT_TRUE(paths(platform.getClassDevs(other)).empty());

  HidrawPlatform absent((folder.dir / "nothing").string(), d);  // no hidraw driver: an empty list
  EXPECT_TRUE(absent.getClassDevs(hid) != kInvalidHandle && !findTheDimmer(absent));
  testkit::putBytes(folder.dir / "plain", "");
  HidrawPlatform notADir(folder.path("plain"), d);
  EXPECT_EQ(notADir.getClassDevs(hid), kInvalidHandle);
  EXPECT_EQ(notADir.getLastError(), static_cast<std::uint32_t>(ENOTDIR));
}

TEST_F(FakeTree, NodesThatCannotBeOpenedOrQueriedAreSkippedAndClosed) {
  for (const char* name : {"hidraw0", "hidraw1", "hidraw2"}) fs::create_directories(sysfs / name);
  fs::create_directories(dev / "hidraw1");                 // hidraw0 has no node; this one cannot be
  testkit::putBytes(dev / "hidraw2", "not a hid device");  // opened for writing; this is no hidraw node
  const int fdsBefore = openFdCount();
  EXPECT_FALSE(findTheDimmer(platform));
  EXPECT_EQ(lines("SetupDiEnumDeviceInterfaces"), 4);
  for (const int error : {ENOENT, EISDIR, ENOTTY}) EXPECT_EQ(lines("  Result = " + std::string(std::strerror(error))), 1);
  EXPECT_EQ(lines("  Error in filling HIDD_ATTRIBUTES structure."), 3);
  EXPECT_EQ(lines("  Returned handle: FFFFFFFFh"), 2);
  EXPECT_EQ(openFdCount(), fdsBefore);

  const Handle h = platform.createFile((dev / "hidraw2").string(), false);
  HidAttributes attributes{12, 0x1111, 0x2222, 0x3333};
  EXPECT_FALSE(platform.getAttributes(h, attributes));
  EXPECT_EQ(attributes.vendorId, 0x1111);  // left as it was
  EXPECT_TRUE(platform.closeHandle(h));
  EXPECT_FALSE(platform.closeHandle(h));
}

// A FIFO stands in for a device node: what the plain handle writes, the
// overlapped handle reads, as the dimmer's answer would arrive.
TEST_F(FakeTree, OverlappedReadsCompleteInTheWaitAndCancelledOnesNeverTouchTheirBuffer) {
  using Bytes = std::vector<std::uint8_t>;
  const std::string node = (dev / "hidraw0").string();
  ASSERT_EQ(::mkfifo(node.c_str(), 0600), 0);
  const Handle writer = platform.createFile(node, false), reader = platform.createFile(node, true);
  const auto event = platform.createEvent(true, true);
  const std::uint8_t report[8] = {0x21, 0xBC, 0x02, 4, 5, 6, 7, 8};
  std::uint32_t written = 0;
  auto answer = [&] { return platform.writeFile(writer, report, sizeof report, written); };
  const Bytes untouched(9, 0xEE);
  Bytes buffer = untouched, scratch(9);

  EXPECT_FALSE(platform.readFile(reader, buffer.data(), 9, event));
  EXPECT_EQ(platform.getLastError(), static_cast<std::uint32_t>(EAGAIN));
  EXPECT_TRUE(answer());
  EXPECT_EQ(platform.waitForSingleObject(event, 2000), kWaitObject0);
  EXPECT_EQ(buffer, (Bytes{0, 0x21, 0xBC, 0x02, 4, 5, 6, 7, 8}));  // report ID 0 in front

  buffer = untouched;
  EXPECT_FALSE(platform.readFile(reader, buffer.data(), 9, event));
  EXPECT_TRUE(platform.cancelIo(reader));
  EXPECT_TRUE(answer());
  EXPECT_EQ(platform.waitForSingleObject(event, 30), kWaitTimeout);
  // Closing forgets the read too, even when the number comes back for another file.
  EXPECT_TRUE(platform.readFile(reader, scratch.data(), 9, event));  // drains the answer
  EXPECT_FALSE(platform.readFile(reader, buffer.data(), 9, event));
  EXPECT_TRUE(platform.closeHandle(reader));
  EXPECT_EQ(platform.createFile(node, true), reader);
  EXPECT_TRUE(answer());
  EXPECT_EQ(platform.waitForSingleObject(event, 30), kWaitTimeout);
  EXPECT_EQ(buffer, untouched);
  platform.closeHandle(reader);
  platform.closeHandle(writer);
}

TEST_F(FakeTree, OneProcessOwnsTheDimmerUntilItClosesIt) {
  // flock conflicts between open files even within one process, as it does
  // between a window and a server.
  const std::string node = (dev / "hidraw0").string();
  testkit::putBytes(node, "");
  HidrawPlatform other{sysfs.string(), dev.string()};
  const Handle mine = platform.createFile(node, false), theirs = other.createFile(node, false);
  EXPECT_TRUE(platform.claimExclusive(mine));
  EXPECT_FALSE(other.claimExclusive(theirs));
  EXPECT_EQ(other.getLastError(), static_cast<std::uint32_t>(EWOULDBLOCK));
  platform.closeHandle(mine);
  EXPECT_TRUE(other.claimExclusive(theirs));
  other.closeHandle(theirs);
}

}  // namespace
}  // namespace kelvane
