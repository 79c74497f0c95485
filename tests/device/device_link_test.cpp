#include "device/device_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <sstream>

#include "device/sim_hid.h"
#include "support/error_handler.h"
#include "support/status_log.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr auto npos = std::string::npos;

// Forwards to the simulated backend and records what the link did with its
// handles and reads; a few results can be forced.
class SpyHid final : public HidPlatform {
 public:
  explicit SpyHid(SimulatedHid& sim) : sim_(sim) {}

  std::vector<Handle> closed;  // in closing order
  std::vector<std::uint32_t> enumIndexes;
  int eventsCreated = 0;
  int staleUses = 0;         // calls made with a handle value already closed
  bool readPending = false;  // a read was started and has neither completed nor been cancelled
  std::optional<std::uint32_t> forcedWait;  // result of the next waits
  std::function<void()> afterReadFile;      // runs after a read was started

  Guid getHidGuid() override { return sim_.getHidGuid(); }
  DeviceInfoSet getClassDevs(const Guid& g) override { return sim_.getClassDevs(g); }
  bool enumDeviceInterfaces(DeviceInfoSet s, const Guid& g, std::uint32_t i, DeviceInterfaceData& d) override {
    return enumIndexes.push_back(i), sim_.enumDeviceInterfaces(s, g, i, d);
  }
  bool getDeviceInterfaceDetail(DeviceInfoSet s, const DeviceInterfaceData& d, char* b, std::uint32_t n,
                                std::uint32_t& r) override {
    return sim_.getDeviceInterfaceDetail(s, d, b, n, r);
  }
  bool destroyDeviceInfoList(DeviceInfoSet s) override { return sim_.destroyDeviceInfoList(s); }
  Handle createFile(const std::string& path, bool overlapped) override { return sim_.createFile(path, overlapped); }
  bool closeHandle(Handle h) override { return check(h), closed.push_back(h), sim_.closeHandle(h); }
  bool getAttributes(Handle h, HidAttributes& a) override { return check(h), sim_.getAttributes(h, a); }
  PreparsedData getPreparsedData(Handle h) override { return check(h), sim_.getPreparsedData(h); }
  bool getCaps(PreparsedData d, HidCaps& c) override { return sim_.getCaps(d, c); }
  bool getValueCaps(int t, std::uint16_t& c, PreparsedData d) override { return sim_.getValueCaps(t, c, d); }
  bool freePreparsedData(PreparsedData d) override { return sim_.freePreparsedData(d); }
  EventHandle createEvent(bool m, bool i) override { return ++eventsCreated, sim_.createEvent(m, i); }
  bool resetEvent(EventHandle e) override { return sim_.resetEvent(e); }
  bool writeFile(Handle h, const std::uint8_t* d, std::uint32_t n, std::uint32_t& w) override {
    return check(h), sim_.writeFile(h, d, n, w);
  }
  bool readFile(Handle h, std::uint8_t* b, std::uint32_t n, EventHandle e) override {
    check(h);
    const bool ok = sim_.readFile(h, b, n, e);
    readPending = !ok && sim_.getLastError() == syserr::IoPending;
    if (afterReadFile) afterReadFile();
    return ok;
  }
  std::uint32_t waitForSingleObject(EventHandle e, std::uint32_t ms) override {
    if (forcedWait) return *forcedWait;
    const std::uint32_t r = sim_.waitForSingleObject(e, ms);
    readPending = readPending && r != kWaitObject0;
    return r;
  }
  bool cancelIo(Handle h) override { return check(h), readPending = false, sim_.cancelIo(h); }
  bool claimExclusive(Handle h) override { return sim_.claimExclusive(h); }
  std::uint32_t getLastError() override { return sim_.getLastError(); }
  std::string formatMessage(std::uint32_t c, std::uint32_t n) override { return sim_.formatMessage(c, n); }

 private:
  void check(Handle h) { staleUses += std::count(closed.begin(), closed.end(), h) > 0; }
  SimulatedHid& sim_;
};

// A platform call's log entry: an empty line, its name and its result.
std::string call(const std::string& name, const std::string& result = "The operation completed successfully.") {
  return "||" + name + "|  Result = " + result;
}

std::string hexOf(Handle h) { return hexText(static_cast<std::uint32_t>(h)); }

struct LinkTest : ::testing::Test {
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};
  SimulatedHid sim;
  SpyHid spy{sim};
  DeviceLink link{spy, log, errors};

  void SetUp() override {
    sim.useVirtualTime();
    log.setClock([] { return std::string("t"); });
    log.setShowStatus(true);
    link.dimmerVendorId = kDefaultVendorId;
    link.dimmerProductId = kDefaultProductId;
  }

  std::size_t mark() const { return log.lineCount(); }
  // The lines recorded after the first `from`, oldest first, each as "|" + text.
  std::string since(std::size_t from) const {
    std::vector<std::string> newestFirst;
    std::istringstream in(log.logText());
    for (std::string line; std::getline(in, line);) newestFirst.push_back(line.substr(3, line.size() - 4));
    std::string out;
    for (std::size_t k = newestFirst.size() - from; k-- > 0;) out += "|" + newestFirst[k];
    return out;
  }
  bool connect() { return link.deviceDetected = link.findTheHid(); }
  std::vector<Handle> lastTwoClosed() const { return {spy.closed.end() - 2, spy.closed.end()}; }
  Bytes exchange(std::uint8_t code) {
    link.commandBytes[0] = code;
    link.writeReport();
    return link.readReport();
  }
};

TEST_F(LinkTest, WithNoInterfaceOneEnumerationIsMadeAndNothingStaysOpen) {
  sim.interfaces().clear();
  EXPECT_FALSE(connect());
  EXPECT_EQ(spy.enumIndexes, std::vector<std::uint32_t>{0});
  EXPECT_EQ(sim.openHandleCount(), 0);
  EXPECT_EQ(since(0), call("GetHidGuid") + "|  GUID for system HIDs: 4D1E55B2-F16F-11CF-88 CB 00 11 11 00 00 30 " +
                          call("SetupDiClassDevs") +
                          call("SetupDiEnumDeviceInterfaces", "No more data is available.") +
                          call("DestroyDeviceInfoList") + "| Device not found.");
}

TEST_F(LinkTest, InterfacesBeforeTheDimmerAreLoggedAndClosedAndTheDimmersHandlesKept) {
  ASSERT_TRUE(connect());
  EXPECT_EQ(spy.enumIndexes, (std::vector<std::uint32_t>{0, 1, 2, 3}));  // stops at the match
  ASSERT_EQ(spy.closed.size(), 3u);
  EXPECT_EQ(sim.openHandleCount(), 2);
  EXPECT_TRUE(link.hidHandleOpen() && link.readHandleOpen());

  const std::string all = since(0), path = sim.interfaces()[0].path;
  EXPECT_NE(all.find("|  DeviceInfoSet for device #0: |  cbSize = 28|  InterfaceClassGuid.Data1 = 4D1E55B2"
                     "|  InterfaceClassGuid.Data2 = F16F|  InterfaceClassGuid.Data3 = 11CF|  Flags = 1" +
                     call("SetupDiGetDeviceInterfaceDetail", "The data area passed to a system call is too small.") +
                     "|  (OK to say too small)|  Required buffer size for the data: " +
                     std::to_string(path.size() + 5) + call(" Result of second call: ") +
                     "|  MyDeviceInterfaceDetailData.cbSize: 5|  Device pathname: |    " + path + call("CreateFile") +
                     "|  Returned handle: " + hexOf(spy.closed[0]) + "h" + call("HidD_GetAttributes") +
                     "|  HIDD_ATTRIBUTES structure filled without error.|  Structure size: 12|  Vendor ID: 46D"
                     "|  Product ID: C077|  Version Number: 100" +
                     call("CloseHandle") + call("SetupDiEnumDeviceInterfaces")),
            npos);
  const std::string tail = all.substr(all.find("|  My device detected"));  // once, then the capabilities
  EXPECT_TRUE(tail.starts_with("|  My device detected" + call("DestroyDeviceInfoList") +
                               call("HidD_GetPreparsedData") + call("HidP_GetCaps") +
                               "|  Usage: 1|  Usage Page: FF00|  Input Report Byte Length: 9"));
  EXPECT_TRUE(tail.ends_with("|  Number of Feature Data Indices: 0" + call("HidP_GetValueCaps") +
                             call("HidD_FreePreparsedData") + call("CreateFile, ReadHandle") +
                             "|  Returned handle: " + hexOf(link.readHandle) + "h" + call("CreateEvent")));
}

TEST_F(LinkTest, MatchingComparesBothIdsAsSigned16BitNumbers) {
  // Standard layout: 046D:C077, 413C:2113, 04D8:003F (the dimmer's vendor), 04D8:F5D1.
  const std::tuple<std::int32_t, std::int32_t, int> cases[] = {
      {1240, -2607, 3}, {1240, 62929, -1}, {1240, 0x003F, 2}, {1241, -2607, -1}};  // -1: not found
  for (const auto& [vendor, product, at] : cases) {
    SCOPED_TRACE(std::to_string(vendor) + ":" + std::to_string(product));
    SimulatedHid s;
    SpyHid sp(s);
    DeviceLink dl(sp, log, errors);
    dl.dimmerVendorId = vendor, dl.dimmerProductId = product;
    EXPECT_EQ(dl.findTheHid(), at >= 0);
    EXPECT_EQ(s.openHandleCount(), at >= 0 ? 2 : 0);
    const std::size_t passed = at >= 0 ? static_cast<std::size_t>(at) : 4u;
    EXPECT_EQ(sp.enumIndexes.back(), passed);
    EXPECT_EQ(sp.closed.size(), passed);  // every interface passed over was closed again
    if (at >= 0) {
      EXPECT_EQ(dl.devicePath, s.interfaces()[passed].path);
    }
  }
}

// The attribute record is reused, so a failed query leaves the dimmer's IDs of
// an earlier discovery in it; such a query must never count as a match.
TEST_F(LinkTest, AnInterfaceThatCannotBeOpenedOrQueriedIsPassedOver) {
  ASSERT_TRUE(connect());
  link.closeHandles();
  sim.interfaces()[0].openable = false;  // e.g. a keyboard the system holds
  const auto m = mark();
  ASSERT_TRUE(connect());
  EXPECT_NE(since(m).find("|    " + sim.interfaces()[0].path + call("CreateFile", "Access is denied.") +
                          "|  Returned handle: FFFFFFFFh" + call("HidD_GetAttributes", "The handle is invalid.") +
                          "|  Error in filling HIDD_ATTRIBUTES structure.|  Structure size: 12"
                          "|  Vendor ID: 4D8|  Product ID: F5D1|"),
            npos);
  EXPECT_EQ(link.devicePath, sim.dimmerInterface().path);
  EXPECT_TRUE(sim.openHandleCount() == 2 && spy.staleUses == 0);
}

TEST_F(LinkTest, ShutDownClosesEachHandleOnceAndTheNextDiscoveryReusesTheEvent) {
  ASSERT_TRUE(connect());
  const Handle hid = link.hidHandle, read = link.readHandle;
  const auto event = link.readEvent;
  for (int round = 0; round < 2; ++round) {  // closed already: logged all the same, nothing closed twice
    const auto m = mark();
    link.closeHandles();
    EXPECT_EQ(since(m), call("CloseHandle (HIDHandle)") + call("CloseHandle (ReadHandle)"));
  }
  EXPECT_TRUE(spy.closed.size() == 5u && spy.staleUses == 0);
  EXPECT_EQ(lastTwoClosed(), (std::vector<Handle>{hid, read}));

  const auto m = mark();
  ASSERT_TRUE(connect());
  EXPECT_TRUE(spy.eventsCreated == 1 && link.readEvent == event && sim.openHandleCount() == 2);
  EXPECT_TRUE(since(m).ends_with(call("CreateEvent")));
}

TEST_F(LinkTest, TheReportCarriesTheCommandBytesAsTheyAreLeftAndAsManyAsFit) {
  ASSERT_TRUE(connect());
  encodeSetPanelValue(link.commandBytes, 0x155);
  exchange(cmd::SetPanelValue);
  exchange(cmd::ReadPanelValue);  // sets byte 0 only
  EXPECT_EQ(sim.received()[1], (Bytes{0, 0x21, 0x55, 0x01, 0, 0, 0, 0, 0}));
  link.commandBytes = {1, 2, 3, 4, 5, 6, 7, 8};
  auto m = mark();
  link.writeReport();
  EXPECT_EQ(sim.received().back(), (Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(since(m), call("WriteFile") + "| OutputReportByteLength = 9| NumberOfBytesWritten = 9| Report ID: 0"
                                          "| Report Data:| 1| 2| 3| 4| 5| 6| 7| 8");

  for (const std::uint16_t length : {4, 10}) {
    link.closeHandles();
    sim.dimmerInterface().caps.outputReportByteLength = length;
    ASSERT_TRUE(connect());
    host.msgBox2Answers = {"Retry", "Ignore"};
    link.writeReport();
  }
  EXPECT_EQ(sim.received()[3], (Bytes{0, 1, 2, 3}));
  // Ten bytes run past the command bytes: failure 9, the retry fails alike,
  // Ignore sends what was filled.
  ASSERT_EQ(host.count("msgBox2"), 2);
  EXPECT_TRUE(host.shown[0].title == "Error 9 in WriteReport" && host.shown[0].text.find("Module: frmMDI") != npos);
  EXPECT_EQ(sim.received().back(), (Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 0}));
}

TEST_F(LinkTest, AnAnswerIsLoggedOnceAsDataAndOnceAsResultAndPassedOnAsItCame) {
  ASSERT_TRUE(connect());
  sim.dimmer().setPanelValue(300);
  link.commandBytes[0] = cmd::ReadPanelValue;
  link.writeReport();
  const auto m = mark();
  EXPECT_EQ(link.readReport(), (Bytes{0, 0x21, 0x2C, 0x01, 0, 0, 0, 0, 0}));
  std::string data = "| 21|Result: 21| 2C|Result: 2C| 01|Result: 01";
  for (int k = 0; k < 5; ++k) data += "| 00|Result: 00";
  EXPECT_EQ(since(m), call("ReadFile") + "|waiting for ReadFile" + call("WaitForSingleObject") +
                          "|ReadFile completed successfully.| Report ID: 0| Report Data:|Next Read" + data +
                          call("ResetEvent"));
  EXPECT_FALSE(spy.readPending);
  sim.faults().answerLength = 3;
  EXPECT_EQ(exchange(cmd::ReadPanelValue), (Bytes{0, 0x21, 0x2C, 0, 0, 0, 0, 0, 0}));
}

TEST_F(LinkTest, AnAnswerLaterThanTheBoundIsATimeOutThatClosesBothHandlesOnce) {
  ASSERT_TRUE(connect());
  const Handle hid = link.hidHandle, read = link.readHandle;
  sim.dimmer().setPanelValue(513);
  sim.faults().answerDelayMs = 5999;  // just in time
  auto before = sim.now();
  EXPECT_EQ(exchange(cmd::ReadPanelValue), (Bytes{0, 0x21, 0x01, 0x02, 0, 0, 0, 0, 0}));
  EXPECT_EQ(sim.now() - before, 5999000u);

  sim.faults().answerDelayMs = 6001;
  link.writeReport();
  auto m = mark();
  before = sim.now();
  EXPECT_EQ(link.readReport(), Bytes(9, 0));
  EXPECT_EQ(sim.now() - before, 6000000u);  // the full bound, in virtual time
  std::string zeros;
  for (int k = 0; k < 8; ++k) zeros += "| 00|Result: 00";
  EXPECT_EQ(since(m), call("ReadFile", "Overlapped I/O operation is in progress.") + "|waiting for ReadFile" +
                          call("WaitForSingleObject") +
                          "|Readfile timeout|************ReadFile timeout*************|CancelIO" +
                          call("CancelIo") + call("CloseHandle (HIDHandle)") + call("CloseHandle (ReadHandle)") +
                          "| Report ID: 0| Report Data:|Next Read" + zeros + call("ResetEvent"));
  EXPECT_FALSE(link.deviceDetected || spy.readPending);
  EXPECT_EQ(sim.waitForSingleObject(link.readEvent, 2000), kWaitTimeout);  // the late answer finds no read
  EXPECT_EQ(spy.closed.size(), 5u);
  EXPECT_EQ(lastTwoClosed(), (std::vector<Handle>{hid, read}));

  // Before the next discovery the exchange reaches no device; the branch
  // logs in full and closes nothing.
  m = mark();
  EXPECT_EQ(exchange(cmd::ReadMotion), Bytes(9, 0));
  EXPECT_TRUE(since(m).starts_with(call("WriteFile", "The handle is invalid.")));
  EXPECT_NE(since(m).find("|CancelIO" + call("CancelIo") + call("CloseHandle (HIDHandle)")), npos);
  EXPECT_EQ(spy.closed.size(), 5u);
  EXPECT_EQ(spy.staleUses, 0);
}

TEST_F(LinkTest, AnUndefinedWaitResultClearsTheFlagButKeepsTheHandles) {
  ASSERT_TRUE(connect());
  sim.faults().answerDelayMs = 100;  // the read is still pending when the wait fails
  spy.forcedWait = kWaitFailed;
  const auto m = mark();
  EXPECT_EQ(exchange(cmd::ReadMotion), Bytes(9, 0));
  EXPECT_NE(since(m).find("|Readfile undefined error| Report ID: 0| Report Data:|Next Read"), npos);
  EXPECT_EQ(since(m).find("CancelIO"), npos);
  EXPECT_TRUE(!link.deviceDetected && link.hidHandleOpen() && link.readHandleOpen());
  EXPECT_EQ(spy.closed.size(), 3u);  // only the three other interfaces
  EXPECT_FALSE(spy.readPending);     // the read did not outlive its buffer
  EXPECT_EQ(sim.waitForSingleObject(link.readEvent, 2000), kWaitTimeout);

  // Rediscovery does not leak the handles that stayed open.
  spy.forcedWait.reset();
  sim.faults().answerDelayMs = 0;
  ASSERT_TRUE(connect());
  EXPECT_TRUE(sim.openHandleCount() == 2 && spy.staleUses == 0);
}

TEST_F(LinkTest, AReadIsCancelledWhenATrapAnswerLeavesReadReportEarly) {
  ASSERT_TRUE(connect());
  sim.faults().answerDelayMs = 1000;
  spy.afterReadFile = [] { throw RuntimeError(rt::DeviceIOError); };
  host.msgBox2Answers = {""};  // leave the procedure
  link.commandBytes[0] = cmd::ReadPanelValue;
  link.writeReport();
  EXPECT_TRUE(link.readReport().empty());
  EXPECT_EQ(host.lastShown().title, "Error 57 in ReadReport");
  EXPECT_FALSE(spy.readPending);
  // The dimmer's answer arrives after all: it must find no read to fill.
  EXPECT_EQ(sim.waitForSingleObject(link.readEvent, 2000), kWaitTimeout);
}

TEST_F(LinkTest, ADimmerHeldByAnotherProcessIsLeftAloneAndSaidSo) {
  sim.faults().heldElsewhere = true;
  EXPECT_FALSE(connect());
  EXPECT_TRUE(link.dimmerBusy);
  EXPECT_EQ(sim.openHandleCount(), 0);
  EXPECT_EQ(sim.reportsReceived(), 0);
  sim.faults().heldElsewhere = false;
  EXPECT_TRUE(connect());
  EXPECT_FALSE(link.dimmerBusy);
}

}  // namespace
}  // namespace kelvane
