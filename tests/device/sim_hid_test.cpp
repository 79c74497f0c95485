#include "device/sim_hid.h"

#include <gtest/gtest.h>

#include "device/device_link.h"
#include "support/error_handler.h"
#include "support/status_log.h"
#include "testkit/files.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint64_t kMs = 1000;

Bytes report(std::uint8_t code, std::uint8_t p1 = 0, std::uint8_t p2 = 0) { return {0, code, p1, p2, 0, 0, 0, 0, 0}; }

TEST(DimmerModelTest, MovesTowardTheExecutedValueAtItsRate) {
  DimmerModel d(400.0);  // units per second
  d.handle(report(cmd::SetPanelValue, 0xF4, 0x01), 9, 0);  // 500, loaded only
  EXPECT_EQ(d.handle(report(cmd::ReadMotion), 9, 100 * kMs)[2], 0);
  d.handle(report(cmd::ExecutePanelChange, 3), 9, 100 * kMs);
  for (const auto& [atMs, value, moving] : {std::tuple{100, 0, true}, {600, 200, true}, {1350, 500, false}}) {
    const Bytes v = d.handle(report(cmd::ReadPanelValue), 9, atMs * kMs);
    EXPECT_EQ(256 * v[3] + v[2], value) << atMs;
    EXPECT_EQ(d.handle(report(cmd::ReadMotion), 9, atMs * kMs)[2] != 0, moving) << atMs;
  }
  d.handle(report(cmd::SetPanelValue, 0xFF, 0xFF), 9, 6000 * kMs);
  EXPECT_EQ(d.loadedValue(), 1023);  // a value above the range is taken as 1023
}

TEST(SimulatedHidTest, TheTraceListsReportsAndAnswersInTwoDigitHex) {
  testkit::ScratchFolder folder;
  {
    testkit::ScriptedHost host;
    StatusLog log;
    ErrorHandler errors{host, log};
    SimulatedHid sim;
    DeviceLink link{sim, log, errors};
    sim.useVirtualTime();
    link.dimmerVendorId = kDefaultVendorId;
    link.dimmerProductId = kDefaultProductId;
    ASSERT_TRUE(sim.openTrace(folder.path("trace.txt")));
    ASSERT_TRUE(link.findTheHid());
    encodeSetPanelValue(link.commandBytes, 501);
    link.writeReport();
    link.readReport();
    sim.faults().answerLength = 4;
    encodeReadMotion(link.commandBytes);
    link.writeReport();
    link.readReport();
  }
  EXPECT_EQ(testkit::getBytes(folder.path("trace.txt")),
            "> 00 20 F5 01 00 00 00 00 00\n"
            "< 00 20 F5 01 00 00 00 00 00\n"
            "> 00 11 F5 01 00 00 00 00 00\n"
            "< 00 11 00 00\n");
}

}  // namespace
}  // namespace kelvane
