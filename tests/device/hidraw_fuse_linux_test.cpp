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
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "device/device_link.h"
#include "device/hidraw_linux.h"
#include "device/protocol.h"
#include "device/sim_hid.h"
#include "support/error_handler.h"
#include "support/status_log.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

const Bytes kMouseDescriptor = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19, 0x01, 0x29,
    0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02, 0x95, 0x01, 0x75, 0x05,
    0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95,
    0x02, 0x81, 0x06, 0xC0, 0xC0};
const Bytes kDimmerDescriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x09, 0x02,
                                 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x08,
                                 0x81, 0x02, 0x09, 0x03, 0x91, 0x02, 0xC0};

struct FakeNode {
  std::string name;  // "hidrawN"
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  std::uint16_t version = 0;  // bcdDevice in sysfs; 0: none
  Bytes descriptor;
  bool dimmer = false;
};

void wakeSignal(int) {}

// Serves the nodes over FUSE from its own thread. The dimmer node feeds
// every output report to a DimmerModel and queues the 9-byte answer without
// its report ID byte (the dimmer does not number its reports, so hidraw
// delivers the bare 8 bytes) to every open file of the node.
class FakeHidrawServer {
 public:
  explicit FakeHidrawServer(std::vector<FakeNode> nodes) : nodes_(std::move(nodes)) {}
  ~FakeHidrawServer() { unmount(); }

  bool mount(const std::string& mountpoint, std::string& why) {
    static std::once_flag once;
    std::call_once(once, [] {
      struct sigaction action {};
      action.sa_handler = wakeSignal;  // no SA_RESTART: interrupts the loop's read
      sigemptyset(&action.sa_mask);
      sigaction(SIGUSR1, &action, nullptr);
    });
    fuse_operations ops{};
    ops.getattr = getattr;
    ops.readdir = readdir;
    ops.open = open;
    ops.release = release;
    ops.read = read;
    ops.write = write;
    ops.ioctl = ioctl;
    ops.poll = poll;
    char program[] = "kelvane-fake-hidraw";
    char* argv[] = {program, nullptr};
    fuse_args args = FUSE_ARGS_INIT(1, argv);
    fuse_ = fuse_new(&args, &ops, sizeof ops, this);
    fuse_opt_free_args(&args);
    if (!fuse_) {
      why = "fuse_new failed";
      return false;
    }
    if (fuse_mount(fuse_, mountpoint.c_str()) != 0) {
      fuse_destroy(fuse_);
      fuse_ = nullptr;
      why = "the FUSE mount was refused";
      return false;
    }
    stopped_ = false;
    thread_ = std::thread([this] {
      fuse_loop(fuse_);
      stopped_ = true;
    });
    return true;
  }

  // Stops serving and detaches the mount. Files still open on it then fail
  // with ENOTCONN and poll with POLLERR, as an unplugged device's do.
  void unmount() {
    if (!fuse_) return;
    fuse_exit(fuse_);
    // The loop sits in a read of /dev/fuse; a signal interrupts it so it sees the exit.
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!stopped_ && Clock::now() < deadline) {
      pthread_kill(thread_.native_handle(), SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!stopped_) {
      std::fprintf(stderr, "FUSE loop did not stop within 5 s\n");
      std::abort();
    }
    thread_.join();
    {
      std::lock_guard lock(mutex_);
      for (auto& [fh, file] : files_)
        if (file.poll) fuse_pollhandle_destroy(file.poll);
      files_.clear();
    }
    fuse_unmount(fuse_);
    fuse_destroy(fuse_);
    fuse_ = nullptr;
  }

  void setSilent(bool silent) {
    std::lock_guard lock(mutex_);
    silent_ = silent;
  }
  std::vector<Bytes> received() {
    std::lock_guard lock(mutex_);
    return received_;
  }

 private:
  struct OpenFile {
    std::size_t node;
    std::deque<Bytes> reports;
    fuse_pollhandle* poll = nullptr;
  };

  static FakeHidrawServer& self() {
    return *static_cast<FakeHidrawServer*>(fuse_get_context()->private_data);
  }
  int find(const char* path) const {
    for (std::size_t i = 0; i < nodes_.size(); ++i)
      if (path[0] == '/' && nodes_[i].name == path + 1) return static_cast<int>(i);
    return -1;
  }

  static int getattr(const char* path, struct stat* st, fuse_file_info*) {
    std::memset(st, 0, sizeof *st);
    if (std::strcmp(path, "/") == 0) {
      st->st_mode = S_IFDIR | 0755;
      st->st_nlink = 2;
    } else if (self().find(path) >= 0) {
      st->st_mode = S_IFREG | 0666;
      st->st_nlink = 1;
    } else {
      return -ENOENT;
    }
    return 0;
  }
  static int readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*,
                     fuse_readdir_flags) {
    if (std::strcmp(path, "/") != 0) return -ENOTDIR;
    fill(buf, ".", nullptr, 0, fuse_fill_dir_flags{});
    fill(buf, "..", nullptr, 0, fuse_fill_dir_flags{});
    for (const FakeNode& n : self().nodes_) fill(buf, n.name.c_str(), nullptr, 0, fuse_fill_dir_flags{});
    return 0;
  }
  static int open(const char* path, fuse_file_info* fi) {
    FakeHidrawServer& s = self();
    const int node = s.find(path);
    if (node < 0) return -ENOENT;
    std::lock_guard lock(s.mutex_);
    fi->fh = s.nextFh_++;
    fi->direct_io = 1;  // every read and write reaches the node
    fi->nonseekable = 1;
    s.files_[fi->fh] = OpenFile{static_cast<std::size_t>(node), {}, nullptr};
    return 0;
  }
  static int release(const char*, fuse_file_info* fi) {
    FakeHidrawServer& s = self();
    std::lock_guard lock(s.mutex_);
    auto it = s.files_.find(fi->fh);
    if (it != s.files_.end() && it->second.poll) fuse_pollhandle_destroy(it->second.poll);
    s.files_.erase(fi->fh);
    return 0;
  }
  // The loop is single-threaded and must not block: with nothing queued the
  // read says so, and the backend only reads once poll reports data.
  static int read(const char*, char* buf, size_t size, off_t, fuse_file_info* fi) {
    FakeHidrawServer& s = self();
    std::lock_guard lock(s.mutex_);
    OpenFile& file = s.files_.at(fi->fh);
    if (file.reports.empty()) return -EAGAIN;
    const Bytes report = std::move(file.reports.front());
    file.reports.pop_front();
    const std::size_t n = std::min(size, report.size());
    std::memcpy(buf, report.data(), n);
    return static_cast<int>(n);
  }
  static int write(const char*, const char* buf, size_t size, off_t, fuse_file_info* fi) {
    FakeHidrawServer& s = self();
    std::lock_guard lock(s.mutex_);
    const std::size_t node = s.files_.at(fi->fh).node;
    if (!s.nodes_[node].dimmer) return -EINVAL;  // the mouse takes no output reports
    const Bytes report(buf, buf + size);
    s.received_.push_back(report);
    if (s.silent_) return static_cast<int>(size);
    const auto now = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch());
    Bytes answer = s.dimmer_.handle(report, 9, static_cast<std::uint64_t>(now.count()));
    answer.erase(answer.begin());
    for (auto& [fh, file] : s.files_) {
      if (file.node != node) continue;
      if (file.reports.size() == 64) file.reports.pop_front();  // hidraw's queue depth
      file.reports.push_back(answer);
      if (file.poll) {
        fuse_notify_poll(file.poll);
        fuse_pollhandle_destroy(file.poll);
        file.poll = nullptr;
      }
    }
    return static_cast<int>(size);
  }
  static int ioctl(const char*, unsigned int cmd, void*, fuse_file_info* fi, unsigned int flags, void* data) {
    FakeHidrawServer& s = self();
    if (flags & FUSE_IOCTL_COMPAT) return -ENOSYS;
    std::lock_guard lock(s.mutex_);
    const FakeNode& node = s.nodes_[s.files_.at(fi->fh).node];
    switch (cmd) {
      case HIDIOCGRAWINFO: {
        hidraw_devinfo info{BUS_USB, static_cast<__s16>(node.vendor), static_cast<__s16>(node.product)};
        std::memcpy(data, &info, sizeof info);
        return 0;
      }
      case HIDIOCGRDESCSIZE: {
        const int size = static_cast<int>(node.descriptor.size());
        std::memcpy(data, &size, sizeof size);
        return 0;
      }
      case HIDIOCGRDESC: {
        auto* descriptor = static_cast<hidraw_report_descriptor*>(data);
        descriptor->size = static_cast<__u32>(node.descriptor.size());
        std::memcpy(descriptor->value, node.descriptor.data(), node.descriptor.size());
        return 0;
      }
      default:
        return -ENOTTY;
    }
  }
  static int poll(const char*, fuse_file_info* fi, fuse_pollhandle* ph, unsigned* revents) {
    FakeHidrawServer& s = self();
    std::lock_guard lock(s.mutex_);
    OpenFile& file = s.files_.at(fi->fh);
    if (ph) {
      if (file.poll) fuse_pollhandle_destroy(file.poll);
      file.poll = ph;
    }
    *revents = POLLOUT | POLLWRNORM | (file.reports.empty() ? 0 : POLLIN | POLLRDNORM);
    return 0;
  }

  const std::vector<FakeNode> nodes_;
  fuse* fuse_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stopped_{true};
  std::mutex mutex_;
  std::map<std::uint64_t, OpenFile> files_;
  std::uint64_t nextFh_ = 1;
  DimmerModel dimmer_{1e9};  // moves at once: a read-back shows the value
  bool silent_ = false;
  std::vector<Bytes> received_;
};

int openFdCount() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

struct HidrawFuse : ::testing::Test {
  const std::vector<FakeNode> nodes = {
      {"hidraw0", 0x046D, 0xC077, 0, kMouseDescriptor, false},
      {"hidraw1", 0x04D8, 0xF5D1, 0x0002, kDimmerDescriptor, true},
  };
  fs::path root, sysfs, dev;
  std::unique_ptr<FakeHidrawServer> server;
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};
  std::unique_ptr<HidrawPlatform> platform;
  std::unique_ptr<DeviceLink> link;

  void SetUp() override {
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
      const int error = errno;
      GTEST_SKIP() << "FUSE is unavailable: /dev/fuse: " << std::strerror(error);
    }
    std::string pattern = (fs::temp_directory_path() / "hidraw-fuse-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root = pattern;
    sysfs = root / "sys/class/hidraw";
    dev = root / "dev";
    fs::create_directories(sysfs);
    fs::create_directories(dev);
    server = std::make_unique<FakeHidrawServer>(nodes);
    plug();
    if (!server->mount(dev.string(), why_)) GTEST_SKIP() << "FUSE is unavailable: " << why_;
    platform = std::make_unique<HidrawPlatform>(sysfs.string(), dev.string());
    link = std::make_unique<DeviceLink>(*platform, log, errors);
    link->dimmerVendorId = kDefaultVendorId;
    link->dimmerProductId = kDefaultProductId;
    link->readTimeoutMs = 50;
    log.setShowStatus(true);
    log.setClock([] { return std::string("t"); });
  }
  void TearDown() override {
    if (link) link->closeHandles();
    server.reset();
    if (!root.empty()) fs::remove_all(root);
  }

  // The sysfs entries as the kernel lays them out for a USB device:
  // class/hidraw/hidrawN -> .../<usb device>/<interface>/<hid device>/hidraw/hidrawN.
  void plug() {
    for (std::size_t i = 0; i < nodes.size(); ++i) {
      const FakeNode& n = nodes[i];
      const fs::path usb = root / "sys/devices/usb1" / ("1-" + std::to_string(i + 1));
      char hid[32];
      std::snprintf(hid, sizeof hid, "0003:%04X:%04X.%04zX", n.vendor, n.product, i + 1);
      const fs::path node = usb / (usb.filename().string() + ":1.0") / hid / "hidraw" / n.name;
      if (!fs::exists(node)) {
        fs::create_directories(node);
        fs::create_directory_symlink("../..", node / "device");
        if (n.version) std::ofstream(usb / "bcdDevice") << std::hex << n.version << "\n";
      }
      fs::create_directory_symlink(node, sysfs / n.name);
    }
  }
  void unplug() {
    server->unmount();
    for (const FakeNode& n : nodes) fs::remove(sysfs / n.name);
  }
  void replug() {
    plug();
    ASSERT_TRUE(server->mount(dev.string(), why_)) << why_;
  }

  // One command: its output report and the answer report.
  Bytes exchange(void (*encode)(CommandBytes&)) {
    encode(link->commandBytes);
    link->writeReport();
    return link->readReport();
  }
  Bytes setPanelValue(std::int32_t value) {
    encodeSetPanelValue(link->commandBytes, value);
    return exchange([](CommandBytes&) {});
  }
  int lines(const std::string& text) const {
    std::istringstream in(log.logText());
    int n = 0;
    for (std::string line; std::getline(in, line);) n += line == "t: " + text + "\r";
    return n;
  }

  std::string why_;
};

TEST_F(HidrawFuse, DiscoveryFindsTheDimmerBehindAnotherDeviceWithItsDescriptorsLengths) {
  const int fdsBefore = openFdCount();
  link->dimmerProductId = 62929;  // the unsigned reading of F5D1 is no match
  EXPECT_FALSE(link->findTheHid());
  EXPECT_EQ(openFdCount(), fdsBefore);

  link->dimmerProductId = kDefaultProductId;
  ASSERT_TRUE(link->findTheHid());
  EXPECT_EQ(link->devicePath, (dev / "hidraw1").string());
  EXPECT_EQ(openFdCount(), fdsBefore + 2);  // the mouse was closed again
  EXPECT_EQ(lines("  Vendor ID: 46D"), 2);
  EXPECT_EQ(lines("  Product ID: F5D1"), 2);
  EXPECT_EQ(lines("  Version Number: 2"), 2);  // from the USB device in sysfs
  EXPECT_EQ(lines("  Version Number: 0"), 2);  // the mouse has none there
  EXPECT_EQ(lines("  My device detected"), 1);
  const HidCaps& caps = link->deviceCaps;
  EXPECT_EQ(caps.usagePage, 0xFF00);
  EXPECT_EQ(caps.inputReportByteLength, 9);
  EXPECT_EQ(caps.outputReportByteLength, 9);
  EXPECT_EQ(caps.numberLinkCollectionNodes, 1);
  EXPECT_EQ(lines("  Number of Input Value Caps: 1"), 1);
}

TEST_F(HidrawFuse, ExchangeRoundTripsThroughTheNode) {
  ASSERT_TRUE(link->findTheHid());
  const Bytes echo = setPanelValue(700);
  EXPECT_EQ(echo, (Bytes{0x00, cmd::SetPanelValue, 0xBC, 0x02, 0, 0, 0, 0, 0}));
  exchange(encodeExecutePanelChange);
  const Bytes value = exchange(encodeReadPanelValue);
  EXPECT_EQ(value[0], 0);
  EXPECT_EQ(value[1], cmd::ReadPanelValue);
  EXPECT_EQ(panelValueOf(value), 700);
  EXPECT_TRUE(link->deviceDetected);
  EXPECT_EQ(lines("ReadFile completed successfully."), 3);

  const std::vector<Bytes> sent = server->received();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0], (Bytes{0x00, cmd::SetPanelValue, 0xBC, 0x02, 0, 0, 0, 0, 0}));
  EXPECT_EQ(sent[2][1], cmd::ReadPanelValue);
}

TEST_F(HidrawFuse, SilentDeviceRunsTheTimeOutBranchWithinItsBound) {
  ASSERT_TRUE(link->findTheHid());
  server->setSilent(true);
  const auto start = Clock::now();
  const Bytes answer = setPanelValue(300);
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_GE(elapsed, 50);
  EXPECT_LT(elapsed, 2000);
  EXPECT_EQ(answer, Bytes(9, 0));
  EXPECT_FALSE(link->deviceDetected);
  EXPECT_FALSE(link->hidHandleOpen());
  EXPECT_FALSE(link->readHandleOpen());
  EXPECT_EQ(lines("Readfile timeout"), 1);

  server->setSilent(false);
  ASSERT_TRUE(link->findTheHid());
  EXPECT_EQ(setPanelValue(300)[2], 0x2C);
}

TEST_F(HidrawFuse, VanishedNodeIsALostLinkAndFoundAgainWhenItReturns) {
  const int fdsBefore = openFdCount();
  ASSERT_TRUE(link->findTheHid());
  setPanelValue(512);
  exchange(encodeExecutePanelChange);

  const Handle handles[] = {link->hidHandle, link->readHandle};
  unplug();
  const Bytes lost = exchange(encodeReadPanelValue);
  EXPECT_EQ(lost, Bytes(9, 0));
  EXPECT_FALSE(link->deviceDetected);
  EXPECT_FALSE(link->hidHandleOpen());
  EXPECT_FALSE(link->readHandleOpen());
  EXPECT_EQ(lines("Readfile timeout"), 1);
  for (Handle h : handles) EXPECT_EQ(::fcntl(static_cast<int>(h), F_GETFD), -1) << "still open: " << h;
  EXPECT_FALSE(link->findTheHid());

  replug();
  ASSERT_TRUE(link->findTheHid());
  EXPECT_EQ(panelValueOf(exchange(encodeReadPanelValue)), 512);  // the dimmer kept its value
  EXPECT_EQ(openFdCount(), fdsBefore + 2);
}

TEST_F(HidrawFuse, AnswerArrivingDuringTheWaitCompletesTheReadAtOnce) {
  ASSERT_TRUE(link->findTheHid());
  link->readTimeoutMs = 2000;
  // Another writer on the node makes the dimmer answer while the link waits.
  const int other = ::open((dev / "hidraw1").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(other, 0);
  std::thread late([other] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const std::uint8_t report[9] = {0, cmd::ReadMotion};
    EXPECT_EQ(::write(other, report, sizeof report), 9);
  });
  const auto start = Clock::now();
  const Bytes answer = link->readReport();
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  late.join();
  ::close(other);
  EXPECT_GE(elapsed, 25);
  EXPECT_LT(elapsed, 1000);
  EXPECT_EQ(answer[1], cmd::ReadMotion);
  EXPECT_TRUE(link->deviceDetected);
}

TEST_F(HidrawFuse, NodeVanishingDuringTheWaitEndsItAsATimeOut) {
  ASSERT_TRUE(link->findTheHid());
  server->setSilent(true);
  link->readTimeoutMs = 150;
  encodeReadPanelValue(link->commandBytes);
  link->writeReport();
  std::thread unplugger([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    unplug();
  });
  const auto start = Clock::now();
  const Bytes answer = link->readReport();
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  unplugger.join();
  // The read never completes: the wait runs out its bound and says why.
  EXPECT_GE(elapsed, 150);
  EXPECT_LT(elapsed, 3000);
  EXPECT_EQ(answer, Bytes(9, 0));
  EXPECT_FALSE(link->deviceDetected);
  EXPECT_EQ(lines("  Result = " + std::string(std::strerror(ENODEV))), 1);
}

}  // namespace
}  // namespace kelvane
