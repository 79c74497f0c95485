// The hidraw backend through real system calls: a FUSE filesystem, served
// from a thread of this process, stands in for /dev with a mouse node and a
// dimmer node that answer the hidraw ioctls, writes, polls and reads; a laid
// out sysfs tree lists them. DeviceLink runs on top, as in the program.
#define FUSE_USE_VERSION 35
#include <fuse.h>

#include <gtest/gtest.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <poll.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "device/device_access.h"
#include "device/device_link.h"
#include "device/hidraw_linux.h"
#include "device/sim_hid.h"
#include "support/error_handler.h"
#include "support/status_log.h"
#include "testkit/files.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

// Vendor page, one 8-byte input and one 8-byte output report.
const Bytes kDescriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x09, 0x02, 0x15, 0x00, 0x26, 0xFF,
                           0x00, 0x75, 0x08, 0x95, 0x08, 0x81, 0x02, 0x09, 0x03, 0x91, 0x02, 0xC0};

struct FakeNode {
  std::string name;  // "hidrawN"
  std::uint16_t vendor, product, version;  // version: bcdDevice in sysfs, 0 for none
  bool dimmer;
};

void wakeSignal(int) {}

// Serves the nodes over FUSE from its own thread; only that thread touches
// the dimmer and its answers. The dimmer node feeds every output report to a
// DimmerModel and queues the answer without its report ID byte (the dimmer
// does not number its reports, so hidraw delivers the bare 8 bytes). The loop
// must not block: a read with nothing queued says so, and the backend only
// reads again once poll reports data.
class FakeHidrawServer {
 public:
  explicit FakeHidrawServer(std::vector<FakeNode> nodes) : nodes_(std::move(nodes)) {}
  ~FakeHidrawServer() { unmount(); }

  bool mount(const std::string& mountpoint) {
    static std::once_flag once;
    std::call_once(once, [] {
      struct sigaction action {};
      action.sa_handler = wakeSignal;  // no SA_RESTART: interrupts the loop's read
      sigaction(SIGUSR1, &action, nullptr);
    });
    fuse_operations ops{};
    ops.getattr = getattr, ops.open = open, ops.read = read, ops.write = write, ops.ioctl = ioctl, ops.poll = poll;
    char program[] = "kelvane-fake-hidraw";
    char* argv[] = {program, nullptr};
    fuse_args args = FUSE_ARGS_INIT(1, argv);
    fuse_ = fuse_new(&args, &ops, sizeof ops, this);
    fuse_opt_free_args(&args);
    if (fuse_ && fuse_mount(fuse_, mountpoint.c_str()) != 0) fuse_destroy(std::exchange(fuse_, nullptr));
    if (!fuse_) return false;
    stopped_ = false;
    thread_ = std::thread([this] { fuse_loop(fuse_), stopped_ = true; });
    return true;
  }

  // Stops serving and detaches the mount. Files still open on it then fail,
  // as an unplugged device's do.
  void unmount() {
    if (!fuse_) return;
    fuse_exit(fuse_);
    // The loop sits in a read of /dev/fuse; a signal interrupts it so it sees the exit.
    for (int k = 0; !stopped_; ++k) {
      if (k == 2500) std::abort();  // 5 s: it never will
      pthread_kill(thread_.native_handle(), SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    thread_.join();
    answers_.clear();
    fuse_unmount(fuse_);
    fuse_destroy(std::exchange(fuse_, nullptr));
  }

  std::atomic<bool> silent{false};
  std::atomic<bool> refuseOpen{false};  // every node: "permission denied"

 private:
  static FakeHidrawServer& self() { return *static_cast<FakeHidrawServer*>(fuse_get_context()->private_data); }
  static int find(const char* path) {
    for (std::size_t i = 0; i < self().nodes_.size(); ++i)
      if (path == "/" + self().nodes_[i].name) return static_cast<int>(i);
    return -1;
  }

  static int getattr(const char* path, struct stat* st, fuse_file_info*) {
    *st = {};
    st->st_mode = std::strcmp(path, "/") == 0 ? S_IFDIR | 0755 : S_IFREG | 0666;
    return S_ISDIR(st->st_mode) || find(path) >= 0 ? 0 : -ENOENT;
  }
  static int open(const char* path, fuse_file_info* fi) {
    if (find(path) < 0) return -ENOENT;
    if (self().refuseOpen) return -EACCES;
    fi->fh = static_cast<std::uint64_t>(find(path));
    fi->direct_io = 1;  // every read and write reaches the node
    fi->nonseekable = 1;
    return 0;
  }
  static int read(const char*, char* buf, size_t size, off_t, fuse_file_info*) {
    std::deque<Bytes>& answers = self().answers_;
    if (answers.empty()) return -EAGAIN;
    const std::size_t n = std::min(size, answers.front().size());
    std::memcpy(buf, answers.front().data(), n);
    answers.pop_front();
    return static_cast<int>(n);
  }
  static int write(const char*, const char* buf, size_t size, off_t, fuse_file_info* fi) {
    FakeHidrawServer& s = self();
    if (!s.nodes_[fi->fh].dimmer) return -EINVAL;  // the mouse takes no output reports
    if (s.silent) return static_cast<int>(size);
    const auto now = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch());
    Bytes answer = s.dimmer_.handle(Bytes(buf, buf + size), 9, static_cast<std::uint64_t>(now.count()));
    s.answers_.emplace_back(answer.begin() + 1, answer.end());
    return static_cast<int>(size);
  }
  static int ioctl(const char*, unsigned int cmd, void*, fuse_file_info* fi, unsigned int flags, void* data) {
    const FakeNode& node = self().nodes_[fi->fh];
    const int size = static_cast<int>(kDescriptor.size());
    if (flags & FUSE_IOCTL_COMPAT) return -ENOSYS;
    if (cmd == HIDIOCGRAWINFO) {
      const hidraw_devinfo info{BUS_USB, static_cast<__s16>(node.vendor), static_cast<__s16>(node.product)};
      std::memcpy(data, &info, sizeof info);
    } else if (cmd == HIDIOCGRDESCSIZE) {
      std::memcpy(data, &size, sizeof size);
    } else if (cmd == HIDIOCGRDESC) {
      static_cast<hidraw_report_descriptor*>(data)->size = static_cast<__u32>(size);
      std::memcpy(static_cast<hidraw_report_descriptor*>(data)->value, kDescriptor.data(), kDescriptor.size());
    } else {
      return -ENOTTY;
    }
    return 0;
  }
  static int poll(const char*, fuse_file_info*, fuse_pollhandle* ph, unsigned* revents) {
    if (ph) fuse_pollhandle_destroy(ph);  // answers come with writes, never while a poll waits
    *revents = POLLOUT | (self().answers_.empty() ? 0 : POLLIN);
    return 0;
  }

  const std::vector<FakeNode> nodes_;
  fuse* fuse_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stopped_{true};
  std::deque<Bytes> answers_;
  DimmerModel dimmer_{1e9};  // moves at once: a read-back shows the value
};

int openFdCount() {
  return static_cast<int>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

struct HidrawFuse : ::testing::Test {
  const std::vector<FakeNode> nodes = {{"hidraw0", 0x046D, 0xC077, 0, false}, {"hidraw1", 0x04D8, 0xF5D1, 2, true}};
  testkit::ScratchFolder root;
  fs::path sysfs = root.dir / "class", dev = root.dir / "dev";
  FakeHidrawServer server{nodes};
  HidrawPlatform platform{sysfs.string(), dev.string()};
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};
  DeviceLink link{platform, log, errors};

  void SetUp() override {
    if (::access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "FUSE is unavailable: /dev/fuse";
    fs::create_directories(dev);
    plug();
    if (!server.mount(dev.string())) GTEST_SKIP() << "FUSE is unavailable: the mount was refused";
    link.dimmerVendorId = kDefaultVendorId;
    link.dimmerProductId = kDefaultProductId;
    link.readTimeoutMs = 50;
    log.setShowStatus(true);
    log.setClock([] { return std::string("t"); });
  }
  void TearDown() override { link.closeHandles(); }

  // The sysfs entries: class/hidrawN/device leads to the HID device, two
  // levels below the USB device that gives the version.
  void plug() {
    for (const FakeNode& n : nodes) {
      const fs::path usb = root.dir / "usb" / n.name;
      fs::create_directories(usb / "1.0/hid");
      fs::create_directories(sysfs / n.name);
      fs::create_directory_symlink(usb / "1.0/hid", sysfs / n.name / "device");
      if (n.version) testkit::putBytes(usb / "bcdDevice", std::to_string(n.version) + "\n");
      char hidId[40];
      std::snprintf(hidId, sizeof hidId, "HID_ID=0003:%08X:%08X\n", n.vendor, n.product);
      testkit::putBytes(usb / "1.0/hid/uevent", std::string("DRIVER=hid-generic\n") + hidId);
    }
  }
  bool logged(const std::string& line) const { return log.logText().find("t: " + line + "\r") != std::string::npos; }
  Bytes exchange(void (*encode)(CommandBytes&)) {
    encode(link.commandBytes);
    link.writeReport();
    return link.readReport();
  }
  Bytes setPanelValue(std::int32_t value) {
    encodeSetPanelValue(link.commandBytes, value);
    return exchange([](CommandBytes&) {});
  }
};

TEST_F(HidrawFuse, DiscoveryFindsTheDimmerBehindAnotherDeviceWithItsDescriptorsLengths) {
  const int fdsBefore = openFdCount();
  link.dimmerProductId = 62929;  // the unsigned reading of F5D1 is no match
  EXPECT_FALSE(link.findTheHid());
  EXPECT_EQ(openFdCount(), fdsBefore);

  link.dimmerProductId = kDefaultProductId;
  ASSERT_TRUE(link.findTheHid());
  EXPECT_EQ(link.devicePath, (dev / "hidraw1").string());
  EXPECT_EQ(openFdCount(), fdsBefore + 2);  // the mouse was closed again
  EXPECT_TRUE(logged("  Version Number: 2"));  // from the USB device in sysfs
  EXPECT_TRUE(logged("  Version Number: 0"));  // the mouse has none there
  const HidCaps& caps = link.deviceCaps;
  EXPECT_EQ((std::vector<int>{caps.usagePage, caps.inputReportByteLength, caps.outputReportByteLength}),
            (std::vector<int>{0xFF00, 9, 9}));
}

TEST_F(HidrawFuse, ExchangesRoundTripAndASilentDeviceTimesOutWithinTheBound) {
  ASSERT_TRUE(link.findTheHid());
  EXPECT_EQ(setPanelValue(700), (Bytes{0x00, cmd::SetPanelValue, 0xBC, 0x02, 0, 0, 0, 0, 0}));
  exchange(encodeExecutePanelChange);
  EXPECT_EQ(panelValueOf(exchange(encodeReadPanelValue)), 700);

  server.silent = true;
  const auto start = Clock::now();
  EXPECT_EQ(setPanelValue(300), Bytes(9, 0));
  const auto elapsed = Clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(50));
  EXPECT_LT(elapsed, std::chrono::seconds(2));
  EXPECT_FALSE(link.deviceDetected || link.hidHandleOpen() || link.readHandleOpen());

  server.silent = false;
  ASSERT_TRUE(link.findTheHid());
  EXPECT_EQ(setPanelValue(300)[2], 0x2C);
}

TEST_F(HidrawFuse, VanishedNodeIsALostLinkAndFoundAgainWhenItReturns) {
  const int fdsBefore = openFdCount();
  ASSERT_TRUE(link.findTheHid());
  setPanelValue(512);
  exchange(encodeExecutePanelChange);
  const Handle handles[] = {link.hidHandle, link.readHandle};

  server.unmount();
  fs::remove_all(sysfs);
  // A gone device fails its read at once: no waiting out the bound.
  link.readTimeoutMs = 5000;
  const auto start = Clock::now();
  EXPECT_EQ(exchange(encodeReadPanelValue), Bytes(9, 0));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  EXPECT_FALSE(link.deviceDetected || link.hidHandleOpen() || link.readHandleOpen());
  for (Handle h : handles) EXPECT_EQ(::fcntl(static_cast<int>(h), F_GETFD), -1) << "still open: " << h;
  EXPECT_FALSE(link.findTheHid());

  plug();
  ASSERT_TRUE(server.mount(dev.string()));
  ASSERT_TRUE(link.findTheHid());
  EXPECT_EQ(panelValueOf(exchange(encodeReadPanelValue)), 512);  // the dimmer kept its value
  EXPECT_EQ(openFdCount(), fdsBefore + 2);
}

TEST_F(HidrawFuse, ADimmerNodeClosedToThisUserIsNamedWithTheFix) {
  const auto denied = [&] { return deniedDimmerNodes(0x04D8, 0xF5D1, sysfs.string(), dev.string()); };
  EXPECT_TRUE(denied().empty());  // it opens

  server.refuseOpen = true;  // the mouse too: only the dimmer's IDs count
  EXPECT_FALSE(link.findTheHid());
  ASSERT_EQ(denied(), std::vector<std::string>{(dev / "hidraw1").string()});
  EXPECT_TRUE(deniedDimmerNodes(0x04D8, 0xF5D2, sysfs.string(), dev.string()).empty());
  EXPECT_NE(deniedDimmerMessage(denied()).find("plugged in at " + (dev / "hidraw1").string() + ", but"),
            std::string::npos);
  EXPECT_EQ(deniedDimmerMessage({}), "");
}

}  // namespace
}  // namespace kelvane
