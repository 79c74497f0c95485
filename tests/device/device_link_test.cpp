#include "device/device_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <functional>
#include <utility>

#include "device/sim_hid.h"
#include "support/error_handler.h"
#include "support/status_log.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

// Forwards every call to the simulated backend and records what the link did
// with its handles, so double closes, use of closed handles and reads left
// pending are caught; a few results can be forced.
class SpyHid final : public HidPlatform {
 public:
  explicit SpyHid(SimulatedHid& sim) : sim_(sim) {}

  std::map<Handle, std::string> opened;  // every handle handed out, with its path
  std::vector<Handle> closed;            // in closing order
  std::vector<Handle> cancelled;
  std::vector<std::uint32_t> enumIndexes;
  int eventsCreated = 0;
  int staleUses = 0;        // calls made with a handle value already closed
  bool readPending = false; // a read was started and has neither completed nor been cancelled
  std::set<std::string> attributesFailFor;      // paths whose attribute query fails
  std::optional<std::uint32_t> forcedWait;      // result of the next waits
  std::function<void(std::uint8_t*, std::uint32_t)> afterReadFile;  // runs after a read was started

  Guid getHidGuid() override { return sim_.getHidGuid(); }
  DeviceInfoSet getClassDevs(const Guid& g) override { return sim_.getClassDevs(g); }
  bool enumDeviceInterfaces(DeviceInfoSet s, const Guid& g, std::uint32_t i,
                            DeviceInterfaceData& d) override {
    enumIndexes.push_back(i);
    return sim_.enumDeviceInterfaces(s, g, i, d);
  }
  bool getDeviceInterfaceDetail(DeviceInfoSet s, const DeviceInterfaceData& d, char* b,
                                std::uint32_t n, std::uint32_t& r) override {
    return sim_.getDeviceInterfaceDetail(s, d, b, n, r);
  }
  bool destroyDeviceInfoList(DeviceInfoSet s) override { return sim_.destroyDeviceInfoList(s); }
  Handle createFile(const std::string& path, bool overlapped) override {
    const Handle h = sim_.createFile(path, overlapped);
    if (h != kInvalidHandle) opened[h] = path;
    return h;
  }
  bool closeHandle(Handle h) override {
    check(h);
    closed.push_back(h);
    return sim_.closeHandle(h);
  }
  bool getAttributes(Handle h, HidAttributes& a) override {
    check(h);
    if (opened.count(h) && attributesFailFor.count(opened[h])) return false;
    return sim_.getAttributes(h, a);
  }
  PreparsedData getPreparsedData(Handle h) override { return check(h), sim_.getPreparsedData(h); }
  bool getCaps(PreparsedData d, HidCaps& c) override { return sim_.getCaps(d, c); }
  bool getValueCaps(int t, std::uint16_t& c, PreparsedData d) override {
    return sim_.getValueCaps(t, c, d);
  }
  bool freePreparsedData(PreparsedData d) override { return sim_.freePreparsedData(d); }
  EventHandle createEvent(bool m, bool i) override {
    ++eventsCreated;
    return sim_.createEvent(m, i);
  }
  bool resetEvent(EventHandle e) override { return sim_.resetEvent(e); }
  bool writeFile(Handle h, const std::uint8_t* d, std::uint32_t n, std::uint32_t& w) override {
    check(h);
    return sim_.writeFile(h, d, n, w);
  }
  bool readFile(Handle h, std::uint8_t* b, std::uint32_t n, EventHandle e) override {
    check(h);
    const bool ok = sim_.readFile(h, b, n, e);
    readPending = !ok && sim_.getLastError() == syserr::IoPending;
    if (afterReadFile) afterReadFile(b, n);
    return ok;
  }
  std::uint32_t waitForSingleObject(EventHandle e, std::uint32_t ms) override {
    if (forcedWait) return *forcedWait;
    const std::uint32_t r = sim_.waitForSingleObject(e, ms);
    if (r == kWaitObject0) readPending = false;
    return r;
  }
  bool cancelIo(Handle h) override {
    check(h);
    cancelled.push_back(h);
    readPending = false;
    return sim_.cancelIo(h);
  }
  std::uint32_t getLastError() override { return sim_.getLastError(); }
  std::string formatMessage(std::uint32_t c, std::uint32_t n) override {
    return sim_.formatMessage(c, n);
  }

 private:
  void check(Handle h) {
    if (std::count(closed.begin(), closed.end(), h)) ++staleUses;
  }
  SimulatedHid& sim_;
};

const std::string kOk = "  Result = The operation completed successfully.";

struct LinkTest : ::testing::Test {
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};
  SimulatedHid sim;
  SpyHid spy{sim};
  DeviceLink link{spy, log, errors};

  void SetUp() override {
    sim.useVirtualTime();
    log.setClock([] { return std::string("10:00:00"); });
    log.setShowStatus(true);
    link.dimmerVendorId = kDefaultVendorId;
    link.dimmerProductId = kDefaultProductId;
    errors.setMainWindowShutDown([this] { link.closeHandles(); });
  }

  // Every recorded line, oldest first, without its time stamp.
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    const std::string text = log.logText();
    std::size_t end = text.size();
    while (end > 0) {
      const std::size_t start = text.rfind("\r\n", end - 3);
      const std::size_t from = start == std::string::npos ? 0 : start + 2;
      out.push_back(text.substr(from + 10, end - 2 - from - 10));  // "10:00:00: "
      end = from;
    }
    return out;
  }
  std::vector<std::string> linesSince(std::size_t mark) const {
    auto all = lines();
    return {all.begin() + static_cast<std::ptrdiff_t>(mark), all.end()};
  }
  std::size_t mark() const { return log.lineCount(); }

  bool connect() { return link.deviceDetected = link.findTheHid(); }
  std::vector<std::uint8_t> exchange(std::uint8_t code) {
    link.commandBytes[0] = code;
    link.writeReport();
    return link.readReport();
  }
  int openHandles() const { return sim.openHandleCount(); }
};

static std::vector<std::string> displayed(const std::string& name, const std::string& result) {
  return {"", name, "  Result = " + result};
}

static void append(std::vector<std::string>& to, const std::vector<std::string>& more) {
  to.insert(to.end(), more.begin(), more.end());
}

// ---- discovery ----

TEST_F(LinkTest, WithNoInterfaceOneEnumerationIsMadeAndNothingStaysOpen) {
  sim.interfaces().clear();
  EXPECT_FALSE(connect());
  EXPECT_FALSE(link.deviceDetected);
  EXPECT_EQ(spy.enumIndexes, std::vector<std::uint32_t>{0});
  EXPECT_EQ(openHandles(), 0);
  EXPECT_EQ(lines(), (std::vector<std::string>{
                         "", "GetHidGuid", kOk,
                         "  GUID for system HIDs: 4D1E55B2-F16F-11CF-88 CB 00 11 11 00 00 30 ",
                         "", "SetupDiClassDevs", kOk,
                         "", "SetupDiEnumDeviceInterfaces", "  Result = No more data is available.",
                         "", "DestroyDeviceInfoList", kOk,
                         " Device not found."}));
}

TEST_F(LinkTest, InterfacesBeforeTheDimmerAreOpenedQueriedLoggedAndClosed) {
  ASSERT_TRUE(connect());
  EXPECT_EQ(spy.enumIndexes, (std::vector<std::uint32_t>{0, 1, 2, 3}));  // stops at the match
  ASSERT_EQ(spy.opened.size(), 5u);  // three others, then the dimmer twice
  ASSERT_EQ(spy.closed.size(), 3u);
  for (std::size_t k = 0; k < 3; ++k)
    EXPECT_EQ(spy.opened[spy.closed[k]], sim.interfaces()[k].path) << k;
  EXPECT_EQ(openHandles(), 2);
  EXPECT_TRUE(link.hidHandleOpen());
  EXPECT_TRUE(link.readHandleOpen());
  EXPECT_EQ(link.devicePath, sim.dimmerInterface().path);
  EXPECT_EQ(link.deviceCaps.outputReportByteLength, 9);

  // The block of the first interface, word for word.
  const auto all = lines();
  const auto first = std::find(all.begin(), all.end(), "  DeviceInfoSet for device #0: ");
  ASSERT_NE(first, all.end());
  const std::string& path = sim.interfaces()[0].path;
  std::vector<std::string> expected = {
      "  DeviceInfoSet for device #0: ", "  cbSize = 28", "  InterfaceClassGuid.Data1 = 4D1E55B2",
      "  InterfaceClassGuid.Data2 = F16F", "  InterfaceClassGuid.Data3 = 11CF", "  Flags = 1"};
  append(expected, displayed("SetupDiGetDeviceInterfaceDetail",
                             "The data area passed to a system call is too small."));
  append(expected, {"  (OK to say too small)",
                    "  Required buffer size for the data: " + std::to_string(path.size() + 5)});
  append(expected, displayed(" Result of second call: ", "The operation completed successfully."));
  append(expected, {"  MyDeviceInterfaceDetailData.cbSize: 5", "  Device pathname: ", "    " + path});
  append(expected, displayed("CreateFile", "The operation completed successfully."));
  append(expected, {"  Returned handle: " + hexText(static_cast<std::uint32_t>(spy.closed[0])) + "h"});
  append(expected, displayed("HidD_GetAttributes", "The operation completed successfully."));
  append(expected, {"  HIDD_ATTRIBUTES structure filled without error.", "  Structure size: 12",
                    "  Vendor ID: 46D", "  Product ID: C077", "  Version Number: 100"});
  append(expected, displayed("CloseHandle", "The operation completed successfully."));
  append(expected, displayed("SetupDiEnumDeviceInterfaces", "The operation completed successfully."));
  EXPECT_EQ(std::vector<std::string>(first, first + static_cast<std::ptrdiff_t>(expected.size())),
            expected);

  // After the match: capabilities, the read handle and the event.
  const auto match = std::find(all.begin(), all.end(), "  My device detected");
  ASSERT_NE(match, all.end());
  EXPECT_EQ(std::count(all.begin(), all.end(), "  My device detected"), 1);
  std::vector<std::string> tail = {"  My device detected"};
  append(tail, displayed("DestroyDeviceInfoList", "The operation completed successfully."));
  append(tail, displayed("HidD_GetPreparsedData", "The operation completed successfully."));
  append(tail, displayed("HidP_GetCaps", "The operation completed successfully."));
  append(tail, {"  Usage: 1", "  Usage Page: FF00", "  Input Report Byte Length: 9",
                "  Output Report Byte Length: 9", "  Feature Report Byte Length: 0",
                "  Number of Link Collection Nodes: 1", "  Number of Input Button Caps: 0",
                "  Number of Input Value Caps: 1", "  Number of Input Data Indices: 1",
                "  Number of Output Button Caps: 0", "  Number of Output Value Caps: 1",
                "  Number of Output Data Indices: 1", "  Number of Feature Button Caps: 0",
                "  Number of Feature Value Caps: 0", "  Number of Feature Data Indices: 0"});
  append(tail, displayed("HidP_GetValueCaps", "The operation completed successfully."));
  append(tail, displayed("HidD_FreePreparsedData", "The operation completed successfully."));
  append(tail, displayed("CreateFile, ReadHandle", "The operation completed successfully."));
  append(tail, {"  Returned handle: " + hexText(static_cast<std::uint32_t>(link.readHandle)) + "h"});
  append(tail, displayed("CreateEvent", "The operation completed successfully."));
  EXPECT_EQ(std::vector<std::string>(match, all.end()), tail);
}

TEST_F(LinkTest, MatchingComparesBothIdsAsSigned16BitNumbers) {
  // Standard layout: 046D:C077, 413C:2113, 04D8:003F (the dimmer's vendor), 04D8:F5D1.
  struct Case {
    const char* name;
    std::int32_t vendor, product;
    int foundAt;  // -1: not found
  };
  for (const Case c : {Case{"F5D1 read as signed", 1240, -2607, 3},
                       Case{"F5D1 read as unsigned", 1240, 62929, -1},
                       Case{"the other product of the vendor", 1240, 0x003F, 2},
                       Case{"no such vendor", 1241, -2607, -1}}) {
    SCOPED_TRACE(c.name);
    SimulatedHid s;
    SpyHid sp(s);
    StatusLog l;
    DeviceLink dl(sp, l, errors);
    dl.dimmerVendorId = c.vendor;
    dl.dimmerProductId = c.product;
    EXPECT_EQ(dl.findTheHid(), c.foundAt >= 0);
    EXPECT_EQ(s.openHandleCount(), c.foundAt >= 0 ? 2 : 0);
    EXPECT_EQ(sp.enumIndexes.back(), c.foundAt >= 0 ? static_cast<std::uint32_t>(c.foundAt) : 4u);
    if (c.foundAt >= 0) {
      EXPECT_EQ(dl.devicePath, s.interfaces()[static_cast<std::size_t>(c.foundAt)].path);
    }
    // Every interface passed over was closed again.
    EXPECT_EQ(sp.closed.size(), c.foundAt >= 0 ? static_cast<std::size_t>(c.foundAt) : 4u);
  }
}

TEST_F(LinkTest, AnInterfaceThatCannotBeOpenedIsLoggedAndPassedOver) {
  sim.interfaces()[0].openable = false;  // e.g. a keyboard the system holds
  ASSERT_TRUE(connect());
  const auto all = lines();
  const auto block = std::find(all.begin(), all.end(), "    " + sim.interfaces()[0].path);
  ASSERT_NE(block, all.end());
  std::vector<std::string> expected = {"    " + sim.interfaces()[0].path};
  append(expected, displayed("CreateFile", "Access is denied."));
  append(expected, {"  Returned handle: FFFFFFFFh"});
  append(expected, displayed("HidD_GetAttributes", "The handle is invalid."));
  append(expected, {"  Error in filling HIDD_ATTRIBUTES structure.", "  Structure size: 12",
                    "  Vendor ID: 0", "  Product ID: 0", "  Version Number: 0"});
  append(expected, displayed("CloseHandle", "The handle is invalid."));
  EXPECT_EQ(std::vector<std::string>(block, block + static_cast<std::ptrdiff_t>(expected.size())),
            expected);
  EXPECT_EQ(spy.staleUses, 0);
  EXPECT_EQ(openHandles(), 2);
}

// The attribute record is reused, so a failed query leaves the dimmer's IDs
// of an earlier discovery in it. Such a query must not count as a match, or
// an interface that could not even be opened would be taken for the dimmer.
TEST_F(LinkTest, AFailedAttributeQueryNeverMatchesOnLeftOverIds) {
  ASSERT_TRUE(connect());
  link.closeHandles();
  sim.interfaces()[0].openable = false;
  const auto m = mark();
  ASSERT_TRUE(connect());
  EXPECT_EQ(link.devicePath, sim.dimmerInterface().path);
  const auto since = linesSince(m);
  const auto failed = std::find(since.begin(), since.end(), "  Error in filling HIDD_ATTRIBUTES structure.");
  ASSERT_NE(failed, since.end());
  EXPECT_EQ(failed[2], "  Vendor ID: 4D8");  // left over, and logged as the record holds it
  EXPECT_EQ(failed[3], "  Product ID: F5D1");
  EXPECT_EQ(exchange(cmd::ReadMotion).size(), 9u);
  EXPECT_TRUE(link.deviceDetected);

  // The dimmer itself answering no attribute query is not found either.
  link.closeHandles();
  sim.interfaces()[0].openable = true;
  spy.attributesFailFor.insert(sim.dimmerInterface().path);
  EXPECT_FALSE(connect());
  EXPECT_EQ(openHandles(), 0);
  EXPECT_EQ(lines().back(), " Device not found.");
}

TEST_F(LinkTest, ASecondDiscoveryReusesTheEventButStillLogsCreateEvent) {
  ASSERT_TRUE(connect());
  const auto event = link.readEvent;
  link.closeHandles();
  const auto m = mark();
  ASSERT_TRUE(connect());
  EXPECT_EQ(spy.eventsCreated, 1);
  EXPECT_EQ(link.readEvent, event);
  const auto since = linesSince(m);
  ASSERT_GE(since.size(), 3u);
  EXPECT_EQ(since[since.size() - 2], "CreateEvent");
  EXPECT_EQ(openHandles(), 2);
}

// ---- closing ----

TEST_F(LinkTest, ShutDownClosesEachHandleOnceAndAlwaysLogsBoth) {
  const std::vector<std::string> closing = [] {
    std::vector<std::string> v = displayed("CloseHandle (HIDHandle)", "The operation completed successfully.");
    append(v, displayed("CloseHandle (ReadHandle)", "The operation completed successfully."));
    return v;
  }();
  ASSERT_TRUE(connect());
  const Handle hid = link.hidHandle, read = link.readHandle;
  auto m = mark();
  link.closeHandles();
  EXPECT_EQ(linesSince(m), closing);
  EXPECT_EQ(spy.closed.back(), read);
  EXPECT_EQ(spy.closed[spy.closed.size() - 2], hid);
  EXPECT_TRUE(link.deviceDetected);  // ShutDown leaves the flag alone
  EXPECT_EQ(openHandles(), 0);

  // Closed already (here by the first ShutDown, as a time-out would): the
  // entries are written, nothing is closed twice.
  const auto closes = spy.closed.size();
  m = mark();
  link.closeHandles();
  EXPECT_EQ(linesSince(m).size(), closing.size());
  EXPECT_EQ(spy.closed.size(), closes);
  EXPECT_EQ(spy.staleUses, 0);
}

// ---- report layout ----

TEST_F(LinkTest, TheReportCarriesTheCommandBytesAsTheyAreLeft) {
  ASSERT_TRUE(connect());
  encodeSetPanelValue(link.commandBytes, 0x155);
  link.writeReport();
  link.readReport();
  link.commandBytes[0] = cmd::ReadPanelValue;  // sets byte 0 only
  link.writeReport();
  link.readReport();
  ASSERT_EQ(sim.received().size(), 2u);
  EXPECT_EQ(sim.received()[1], (std::vector<std::uint8_t>{0, 0x21, 0x55, 0x01, 0, 0, 0, 0, 0}));

  link.commandBytes = {1, 2, 3, 4, 5, 6, 7, 8};
  const auto m = mark();
  link.writeReport();
  EXPECT_EQ(sim.received().back(), (std::vector<std::uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
  std::vector<std::string> expected = displayed("WriteFile", "The operation completed successfully.");
  append(expected, {" OutputReportByteLength = 9", " NumberOfBytesWritten = 9", " Report ID: 0",
                    " Report Data:", " 1", " 2", " 3", " 4", " 5", " 6", " 7", " 8"});
  EXPECT_EQ(linesSince(m), expected);
}

TEST_F(LinkTest, AShortOutputReportSendsOnlyTheBytesThatFit) {
  sim.dimmerInterface().caps.outputReportByteLength = 4;
  ASSERT_TRUE(connect());
  link.commandBytes = {0x20, 0xAB, 0x02, 9, 9, 9, 9, 9};
  const auto m = mark();
  link.writeReport();
  EXPECT_EQ(sim.received().back(), (std::vector<std::uint8_t>{0, 0x20, 0xAB, 0x02}));
  const auto since = linesSince(m);
  EXPECT_EQ(since[3], " OutputReportByteLength = 4");
  EXPECT_EQ(since.back(), " 2");
}

TEST_F(LinkTest, AnOutputReportLongerThanNineBytesIsFailureNine) {
  struct Case {
    const char* name;
    std::deque<std::string> answers;
    int dialogs;
    bool sent;
    bool ended;
  };
  for (const Case& c : {Case{"retry then ignore", {"Retry", "Ignore"}, 2, true, false},
                        Case{"closed without a choice", {""}, 1, false, false},
                        Case{"abort", {"Abort"}, 1, false, true}}) {
    SCOPED_TRACE(c.name);
    testkit::ScriptedHost h;
    StatusLog l;
    ErrorHandler e(h, l);
    SimulatedHid s;
    s.useVirtualTime();
    s.dimmerInterface().caps.outputReportByteLength = 10;
    DeviceLink dl(s, l, e);
    dl.dimmerVendorId = kDefaultVendorId;
    dl.dimmerProductId = kDefaultProductId;
    int shutDowns = 0;
    e.setMainWindowShutDown([&] { ++shutDowns, dl.closeHandles(); });
    ASSERT_TRUE(dl.findTheHid());
    dl.commandBytes = {1, 2, 3, 4, 5, 6, 7, 8};
    h.msgBox2Answers = c.answers;
    dl.writeReport();
    ASSERT_EQ(h.count("msgBox2"), c.dialogs);
    EXPECT_EQ(h.shown[0].title, "Error 9 in WriteReport");
    EXPECT_NE(h.shown[0].text.find("Module: frmMDI"), std::string::npos);
    EXPECT_EQ(s.reportsReceived(), c.sent ? 1 : 0);
    if (c.sent) {
      EXPECT_EQ(s.received()[0], (std::vector<std::uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 0}));
    }
    EXPECT_EQ(h.endProgramCalls, c.ended ? 1 : 0);
    EXPECT_EQ(shutDowns, c.ended ? 1 : 0);
    EXPECT_EQ(s.openHandleCount(), c.ended ? 0 : 2);
  }
}

// ---- reading ----

TEST_F(LinkTest, AnAnswerIsLoggedOnceAsDataAndOnceAsResult) {
  ASSERT_TRUE(connect());
  sim.dimmer().setPanelValue(300);
  link.commandBytes[0] = cmd::ReadPanelValue;
  link.writeReport();
  const auto m = mark();
  const auto answer = link.readReport();
  EXPECT_EQ(answer, (std::vector<std::uint8_t>{0, 0x21, 0x2C, 0x01, 0, 0, 0, 0, 0}));
  std::vector<std::string> expected = displayed("ReadFile", "The operation completed successfully.");
  append(expected, {"waiting for ReadFile"});
  append(expected, displayed("WaitForSingleObject", "The operation completed successfully."));
  append(expected, {"ReadFile completed successfully.", " Report ID: 0", " Report Data:", "Next Read",
                    " 21", "Result: 21", " 2C", "Result: 2C", " 01", "Result: 01"});
  for (int k = 0; k < 5; ++k) append(expected, {" 00", "Result: 00"});
  append(expected, displayed("ResetEvent", "The operation completed successfully."));
  EXPECT_EQ(linesSince(m), expected);
  EXPECT_FALSE(spy.readPending);
}

TEST_F(LinkTest, TheReportIdIsLoggedInDecimalAndDataInTwoDigitHex) {
  ASSERT_TRUE(connect());
  sim.faults().silent = true;  // the answer is put in place by hand
  spy.forcedWait = kWaitObject0;
  spy.afterReadFile = [](std::uint8_t* b, std::uint32_t n) {
    ASSERT_GE(n, 3u);
    b[0] = 31, b[1] = 0x0A, b[2] = 0xB0;
  };
  const auto m = mark();
  EXPECT_EQ(exchange(cmd::ReadMotion), (std::vector<std::uint8_t>{31, 0x0A, 0xB0, 0, 0, 0, 0, 0, 0}));
  const auto since = linesSince(m);
  const auto id = std::find(since.begin(), since.end(), " Report ID: 31");
  ASSERT_NE(id, since.end());
  EXPECT_EQ(std::vector<std::string>(id, id + 6),
            (std::vector<std::string>{" Report ID: 31", " Report Data:", "Next Read", " 0A", "Result: 0A", " B0"}));
}

TEST_F(LinkTest, ATimedOutReadClosesBothHandlesOnceAndReturnsZeros) {
  ASSERT_TRUE(connect());
  const Handle hid = link.hidHandle, read = link.readHandle;
  sim.faults().silent = true;
  sim.dimmer().setPanelValue(300);
  link.commandBytes[0] = cmd::ReadPanelValue;
  link.writeReport();
  const auto before = sim.now();
  auto m = mark();
  EXPECT_EQ(link.readReport(), std::vector<std::uint8_t>(9, 0));
  EXPECT_EQ(sim.now() - before, 6000000u);  // the full bound, in virtual time

  std::vector<std::string> expected = displayed("ReadFile", "Overlapped I/O operation is in progress.");
  append(expected, {"waiting for ReadFile"});
  append(expected, displayed("WaitForSingleObject", "The operation completed successfully."));
  append(expected, {"Readfile timeout", "************ReadFile timeout*************", "CancelIO"});
  append(expected, displayed("CancelIo", "The operation completed successfully."));
  append(expected, displayed("CloseHandle (HIDHandle)", "The operation completed successfully."));
  append(expected, displayed("CloseHandle (ReadHandle)", "The operation completed successfully."));
  append(expected, {" Report ID: 0", " Report Data:", "Next Read"});
  for (int k = 0; k < 8; ++k) append(expected, {" 00", "Result: 00"});
  append(expected, displayed("ResetEvent", "The operation completed successfully."));
  EXPECT_EQ(linesSince(m), expected);
  EXPECT_FALSE(link.deviceDetected);
  EXPECT_EQ(spy.cancelled, std::vector<Handle>{read});
  EXPECT_EQ(spy.closed.back(), read);
  EXPECT_EQ(spy.closed[spy.closed.size() - 2], hid);
  EXPECT_EQ(openHandles(), 0);

  // Before the next discovery: the write and the read reach no device, the
  // wait runs out again, the branch logs in full and closes nothing.
  const auto closes = spy.closed.size();
  m = mark();
  EXPECT_EQ(exchange(cmd::ReadMotion), std::vector<std::uint8_t>(9, 0));
  const auto since = linesSince(m);
  EXPECT_EQ(std::count(since.begin(), since.end(), "Readfile timeout"), 1);
  EXPECT_EQ(std::count(since.begin(), since.end(), "CloseHandle (HIDHandle)"), 1);
  EXPECT_EQ(std::count(since.begin(), since.end(), "CloseHandle (ReadHandle)"), 1);
  EXPECT_EQ(since[1], "WriteFile");
  EXPECT_EQ(since[2], "  Result = The handle is invalid.");
  EXPECT_EQ(spy.closed.size(), closes);
  EXPECT_EQ(spy.staleUses, 0);
  link.closeHandles();
  EXPECT_EQ(spy.closed.size(), closes);
}

TEST_F(LinkTest, AFailedWaitClearsTheFlagButKeepsTheHandles) {
  ASSERT_TRUE(connect());
  sim.faults().answerDelayMs = 100;  // the read is still pending when the wait fails
  spy.forcedWait = kWaitFailed;
  auto m = mark();
  EXPECT_EQ(exchange(cmd::ReadMotion), std::vector<std::uint8_t>(9, 0));
  const auto since = linesSince(m);
  const auto wait = std::find(since.begin(), since.end(), "WaitForSingleObject");
  ASSERT_NE(wait, since.end());
  EXPECT_EQ(std::vector<std::string>(wait + 2, wait + 6),
            (std::vector<std::string>{"Readfile undefined error", " Report ID: 0", " Report Data:", "Next Read"}));
  EXPECT_EQ(std::count(since.begin(), since.end(), "CancelIO"), 0);
  EXPECT_FALSE(link.deviceDetected);
  EXPECT_TRUE(link.hidHandleOpen());
  EXPECT_TRUE(link.readHandleOpen());
  EXPECT_TRUE(spy.closed.size() == 3u);  // only the three other interfaces
  EXPECT_FALSE(spy.readPending);         // the read did not outlive its buffer
  EXPECT_EQ(sim.waitForSingleObject(link.readEvent, 2000), kWaitTimeout);  // the late answer finds none

  // Rediscovery does not leak the handles that stayed open.
  spy.forcedWait.reset();
  sim.faults().answerDelayMs = 0;
  ASSERT_TRUE(connect());
  EXPECT_EQ(openHandles(), 2);
  EXPECT_EQ(spy.staleUses, 0);
  EXPECT_FALSE(exchange(cmd::ReadMotion).empty());
  EXPECT_TRUE(link.deviceDetected);
}

TEST_F(LinkTest, AReadIsCancelledWhenATrapAnswerLeavesReadReportEarly) {
  ASSERT_TRUE(connect());
  sim.faults().answerDelayMs = 1000;
  bool thrown = false;
  spy.afterReadFile = [&](std::uint8_t*, std::uint32_t) {
    if (!std::exchange(thrown, true)) throw RuntimeError(rt::DeviceIOError);
  };
  host.msgBox2Answers = {""};  // leave the procedure
  link.commandBytes[0] = cmd::ReadPanelValue;
  link.writeReport();
  EXPECT_TRUE(link.readReport().empty());
  EXPECT_EQ(host.shown.back().title, "Error 57 in ReadReport");
  EXPECT_FALSE(spy.readPending);
  // The dimmer's answer arrives after all: it must find no read to fill.
  EXPECT_EQ(sim.waitForSingleObject(link.readEvent, 2000), kWaitTimeout);
  sim.faults().answerDelayMs = 0;
  sim.dimmer().setPanelValue(77);
  // The late answer of the abandoned read is still queued; the one after it is ours.
  exchange(cmd::ReadPanelValue);
  EXPECT_EQ(exchange(cmd::ReadPanelValue)[2], 77);
}

TEST_F(LinkTest, LateAnswersWithinTheBoundArriveAndBeyondItTimeOut) {
  ASSERT_TRUE(connect());
  sim.dimmer().setPanelValue(513);
  sim.faults().answerDelayMs = 5999;
  auto before = sim.now();
  auto answer = exchange(cmd::ReadPanelValue);
  EXPECT_EQ(sim.now() - before, 5999000u);
  EXPECT_EQ(answer[2], 0x01);
  EXPECT_EQ(answer[3], 0x02);
  EXPECT_TRUE(link.deviceDetected);

  // Too late: the pending read is cancelled before its buffer goes away, and
  // later exchanges are not disturbed by the answer that never came.
  sim.faults().answerDelayMs = 6001;
  EXPECT_EQ(exchange(cmd::ReadPanelValue), std::vector<std::uint8_t>(9, 0));
  EXPECT_FALSE(link.deviceDetected);
  EXPECT_FALSE(spy.readPending);
  sim.faults().answerDelayMs = 0;
  ASSERT_TRUE(connect());
  for (int k = 0; k < 3; ++k) {
    answer = exchange(cmd::ReadPanelValue);
    EXPECT_EQ(answer[1], 0x21);
    EXPECT_EQ(answer[2], 0x01);
  }
}

TEST_F(LinkTest, ShortAndGarbledAnswersArePassedOnAsTheyCame) {
  ASSERT_TRUE(connect());
  sim.dimmer().setPanelValue(300);
  sim.faults().answerLength = 3;
  EXPECT_EQ(exchange(cmd::ReadPanelValue), (std::vector<std::uint8_t>{0, 0x21, 0x2C, 0, 0, 0, 0, 0, 0}));
  sim.faults().answerLength.reset();
  sim.faults().garbled = true;
  const auto garbled = exchange(cmd::ReadPanelValue);
  std::vector<std::uint8_t> expected{0, 0x21, 0x2C, 0x01, 0, 0, 0, 0, 0};
  for (std::size_t k = 1; k < expected.size(); ++k) expected[k] ^= static_cast<std::uint8_t>(0xA5 + k);
  EXPECT_EQ(garbled, expected);
  EXPECT_TRUE(link.deviceDetected);
}

TEST_F(LinkTest, AnUnpluggedDimmerIsFoundAgainAfterReplug) {
  ASSERT_TRUE(connect());
  sim.unplug();
  const auto m = mark();
  EXPECT_EQ(exchange(cmd::ReadMotion), std::vector<std::uint8_t>(9, 0));
  const auto since = linesSince(m);
  EXPECT_EQ(since[2], "  Result = The device is not connected.");
  EXPECT_FALSE(link.deviceDetected);
  EXPECT_EQ(openHandles(), 0);
  EXPECT_FALSE(connect());
  EXPECT_EQ(spy.enumIndexes.back(), 3u);  // three others left, then the end

  sim.replug();
  ASSERT_TRUE(connect());
  sim.dimmer().setPanelValue(1023);
  const auto answer = exchange(cmd::ReadPanelValue);
  EXPECT_EQ(answer[2], 0xFF);
  EXPECT_EQ(answer[3], 0x03);
  EXPECT_EQ(openHandles(), 2);
  EXPECT_EQ(spy.staleUses, 0);
}

TEST_F(LinkTest, WithTheLogClosedNothingIsRecordedAndTheLinkWorksAlike) {
  log.setShowStatus(false);
  ASSERT_TRUE(connect());
  sim.dimmer().setPanelValue(42);
  EXPECT_EQ(exchange(cmd::ReadPanelValue)[2], 42);
  EXPECT_EQ(log.lineCount(), 0u);
}

TEST(HexTextTest, NumbersInLogLines) {
  EXPECT_EQ(hexText(0), "0");
  EXPECT_EQ(hexText(0x4D8), "4D8");
  EXPECT_EQ(hexText(0xFFFFFFFFu), "FFFFFFFF");
  EXPECT_EQ(hex2(0), "00");
  EXPECT_EQ(hex2(0x0A), "0A");
  EXPECT_EQ(hex2(0xFF), "FF");
}

}  // namespace
}  // namespace kelvane
