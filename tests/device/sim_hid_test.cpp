#include "device/sim_hid.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "device/device_link.h"
#include "support/error_handler.h"
#include "support/status_log.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes report(std::uint8_t code, std::uint8_t p1 = 0, std::uint8_t p2 = 0) {
  return {0, code, p1, p2, 0, 0, 0, 0, 0};
}

constexpr std::uint64_t kMs = 1000;

TEST(DimmerModelTest, MovesTowardTheExecutedValueAtItsRate) {
  DimmerModel d(400.0);  // units per second
  d.handle(report(cmd::SetPanelValue, 0xF4, 0x01), 9, 0);  // 500, loaded only
  EXPECT_EQ(d.loadedValue(), 500);
  EXPECT_EQ(d.handle(report(cmd::ReadMotion), 9, 100 * kMs)[2], 0);  // nothing executed yet
  d.handle(report(cmd::ExecutePanelChange, 3), 9, 100 * kMs);

  struct Step {
    std::uint64_t atMs;
    std::int32_t value;
    bool moving;
  };
  for (const Step s : {Step{100, 0, true}, Step{600, 200, true}, Step{1000, 360, true},
                       Step{1350, 500, false}, Step{5000, 500, false}}) {
    SCOPED_TRACE(s.atMs);
    const Bytes v = d.handle(report(cmd::ReadPanelValue), 9, s.atMs * kMs);
    EXPECT_EQ(v[1], cmd::ReadPanelValue);
    EXPECT_EQ(256 * v[3] + v[2], s.value);
    EXPECT_EQ(d.handle(report(cmd::ReadMotion), 9, s.atMs * kMs)[2] != 0, s.moving);
  }

  // Downwards the same way; a value above the range is taken as 1023.
  d.handle(report(cmd::SetPanelValue, 0x2C, 0x01), 9, 5000 * kMs);  // 300
  d.handle(report(cmd::ExecutePanelChange, 3), 9, 5000 * kMs);
  EXPECT_EQ(d.handle(report(cmd::ReadPanelValue), 9, 5250 * kMs)[2], 400 & 0xFF);
  d.handle(report(cmd::SetPanelValue, 0xFF, 0xFF), 9, 6000 * kMs);
  EXPECT_EQ(d.loadedValue(), 1023);
  d.handle(report(cmd::SetStepChange, 1), 9, 6000 * kMs);
  EXPECT_EQ(d.stepChange(), 1);
}

TEST(DimmerModelTest, AnswersFitTheReportLengthAsked) {
  DimmerModel d;
  d.setPanelValue(300);
  EXPECT_EQ(d.handle(report(cmd::ReadPanelValue), 4, 0), (Bytes{0, 0x21, 0x2C, 0x01}));
  EXPECT_EQ(d.handle(report(cmd::ReadPanelValue), 3, 0), (Bytes{0, 0x21, 0x2C}));
  EXPECT_EQ(d.handle(report(cmd::ReadPanelValue), 1, 0), (Bytes{0}));
  EXPECT_EQ(d.handle({0, cmd::ReadMotion}, 9, 0), (Bytes{0, 0x11, 0, 0, 0, 0, 0, 0, 0}));
}

struct SimRig {
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};
  SimulatedHid sim;
  DeviceLink link{sim, log, errors};
  SimRig() {
    sim.useVirtualTime();
    link.dimmerVendorId = kDefaultVendorId;
    link.dimmerProductId = kDefaultProductId;
  }
  Bytes send(std::uint8_t code, std::uint8_t p1 = 0, std::uint8_t p2 = 0) {
    link.commandBytes[0] = code;
    if (code == cmd::SetPanelValue || code == cmd::ExecutePanelChange) link.commandBytes[1] = p1;
    if (code == cmd::SetPanelValue) link.commandBytes[2] = p2;
    link.writeReport();
    return link.readReport();
  }
};

TEST(SimulatedHidTest, TheTraceListsReportsAndAnswersInTwoDigitHex) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("kelvane_trace_" + std::to_string(std::random_device{}()) + ".txt");
  {
    SimRig rig;
    ASSERT_TRUE(rig.sim.openTrace(path.string()));
    ASSERT_TRUE(rig.link.findTheHid());
    rig.send(cmd::SetPanelValue, 0xF5, 0x01);
    rig.sim.faults().answerLength = 4;
    rig.send(cmd::ReadMotion);
  }
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  in.close();  // Windows refuses to remove an open file
  std::filesystem::remove(path);
  EXPECT_EQ(text.str(),
            "> 00 20 F5 01 00 00 00 00 00\n"
            "< 00 20 F5 01 00 00 00 00 00\n"
            "> 00 11 F5 01 00 00 00 00 00\n"
            "< 00 11 00 00\n");
}

TEST(SimulatedHidTest, VirtualTimeMakesAMoveObservableThroughTheLink) {
  SimRig rig;
  ASSERT_TRUE(rig.link.findTheHid());
  rig.sim.dimmer().setRate(1000.0);
  rig.send(cmd::SetPanelValue, 0x00, 0x02);  // 512
  rig.send(cmd::ExecutePanelChange, 3);
  EXPECT_NE(rig.send(cmd::ReadMotion)[2], 0);
  rig.sim.setClock([t = rig.sim.now() + 600 * kMs] { return t; }, [](std::uint64_t) {});
  const Bytes v = rig.send(cmd::ReadPanelValue);
  EXPECT_EQ(256 * v[3] + v[2], 512);
  EXPECT_EQ(rig.send(cmd::ReadMotion)[2], 0);
}

TEST(SimulatedHidTest, HandlesOfAnUnpluggedDimmerStayDeadAfterReplug) {
  SimulatedHid sim;
  sim.useVirtualTime();
  const std::string path = sim.dimmerInterface().path;
  const Handle old = sim.createFile(path, false);
  ASSERT_NE(old, kInvalidHandle);
  sim.unplug();
  EXPECT_EQ(sim.createFile(path, false), kInvalidHandle);
  EXPECT_EQ(sim.getLastError(), syserr::FileNotFound);
  sim.replug();
  const std::uint8_t data[9] = {0, cmd::ReadMotion};
  std::uint32_t written = 0;
  EXPECT_FALSE(sim.writeFile(old, data, 9, written));
  EXPECT_EQ(sim.getLastError(), syserr::DeviceNotConnected);
  const Handle fresh = sim.createFile(path, false);
  EXPECT_TRUE(sim.writeFile(fresh, data, 9, written));
  EXPECT_EQ(written, 9u);
  EXPECT_TRUE(sim.closeHandle(old));
  EXPECT_FALSE(sim.closeHandle(old));
  EXPECT_EQ(sim.getLastError(), syserr::InvalidHandle);
}

TEST(SimulatedHidTest, SystemTextsEndInALineBreakAndFitTheirBuffer) {
  SimulatedHid sim;
  EXPECT_EQ(sim.formatMessage(syserr::AccessDenied, 128), "Access is denied.\r\n");
  EXPECT_EQ(sim.formatMessage(12345, 128), "");
  EXPECT_EQ(sim.formatMessage(syserr::AccessDenied, 10), "");
}

}  // namespace
}  // namespace kelvane
