#include "panel/panel_controller.h"

#include <gtest/gtest.h>

#include "device/protocol.h"
#include "device/sim_hid.h"
#include "support/error_handler.h"
#include "support/status_log.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

struct ControllerTest : ::testing::Test {
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};
  SimulatedHid sim;
  PanelEngine engine{sim, log, errors};
  PanelController panel{engine, errors};

  void SetUp() override {
    sim.useVirtualTime();
    engine.link().dimmerVendorId = kDefaultVendorId;
    engine.link().dimmerProductId = kDefaultProductId;
    engine.link().readTimeoutMs = 50;
  }
  // Ticks at the monitor's pace until the panel rests (or the bound is hit).
  int ticksToRest(int bound = 100) {
    int n = 0;
    for (; panel.watching() && n < bound; ++n) {
      sim.advanceVirtualTime(kMonitorIntervalMs * 1000);
      panel.tick();
    }
    return n;
  }
};

TEST_F(ControllerTest, ARequestIsWatchedUntilThePanelRestsAtIt) {
  ASSERT_TRUE(panel.connect());
  // 4 units pass between a tick's two reads: the fifth tick reads 216 still
  // moving, then the panel rests at 218. That is arrival, not a stop short.
  engine.setEventPass([this] { sim.advanceVirtualTime(10'000); });
  ASSERT_TRUE(panel.request(218));
  EXPECT_EQ(panel.state(), PanelController::State::Moving);
  EXPECT_GE(ticksToRest(), 5);
  EXPECT_EQ(panel.state(), PanelController::State::AtRest);
  EXPECT_EQ(panel.reading().value, 218);
  int sends = 0;
  for (const auto& report : sim.received()) sends += report.size() > 1 && report[1] == cmd::SetPanelValue;
  EXPECT_EQ(sends, 1);
  const int reports = sim.reportsReceived();
  panel.tick();
  EXPECT_EQ(sim.reportsReceived(), reports);
  // Stopped elsewhere (someone else moved it): sent again, then at rest.
  sim.dimmer().setPanelValue(50);
  ASSERT_TRUE(panel.request(200));
  sim.dimmer().setPanelValue(60);
  ticksToRest();
  EXPECT_EQ(panel.reading().value, 200);
}

TEST_F(ControllerTest, FailuresAreNamedAndTheNextRequestSearchesAgain) {
  sim.unplug();
  EXPECT_FALSE(panel.connect());
  EXPECT_NE(panel.failure().find("not found"), std::string::npos);
  sim.replug();
  sim.faults().heldElsewhere = true;
  EXPECT_FALSE(panel.request(10));
  EXPECT_NE(panel.failure().find("in use by another program"), std::string::npos);
  EXPECT_EQ(sim.reportsReceived(), 0);
  sim.faults().heldElsewhere = false;
  ASSERT_TRUE(panel.request(10));

  // Silence mid-move costs one read bound and ends the watch as lost.
  sim.faults().silent = true;
  const auto before = sim.now();
  const unsigned ticks = static_cast<unsigned>(ticksToRest());
  EXPECT_EQ(panel.state(), PanelController::State::Lost);
  EXPECT_LT(sim.now() - before - ticks * kMonitorIntervalMs * 1000, 2 * 50'000u);
  EXPECT_NE(panel.failure().find("stopped answering"), std::string::npos);
  sim.faults().silent = false;
  ASSERT_TRUE(panel.request(30));
  ticksToRest();
  EXPECT_EQ(panel.state(), PanelController::State::AtRest);
  EXPECT_TRUE(panel.failure().empty());
}

}  // namespace
}  // namespace kelvane
