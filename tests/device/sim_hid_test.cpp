#include "device/sim_hid.h"

#include <gtest/gtest.h>

#include "device/device_link.h"
#include "support/error_handler.h"
#include "support/status_log.h"
#include "testkit/files.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {


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
    // The record in memory keeps the newest reports only; the trace keeps all.
    for (std::size_t i = 0; i < SimulatedHid::kReceivedKept; ++i) link.writeReport(), link.readReport();
    EXPECT_EQ(sim.received().size(), SimulatedHid::kReceivedKept);
    EXPECT_EQ(sim.reportsReceived(), static_cast<int>(SimulatedHid::kReceivedKept) + 2);
  }
  EXPECT_EQ(testkit::getBytes(folder.path("trace.txt")).substr(0, 101),
            "> 00 20 F5 01 00 00 00 00 00\n"
            "< 00 20 F5 01 00 00 00 00 00\n"
            "> 00 11 F5 01 00 00 00 00 00\n"
            "< 00 11 00 00\n");
}

}  // namespace
}  // namespace kelvane
