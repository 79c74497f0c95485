// The panel engine and the controller over it, on the simulated dimmer; what
// reached the dimmer is read from its trace.
#include "panel/panel_controller.h"

#include <gtest/gtest.h>

#include <sstream>

#include "device/protocol.h"
#include "device/sim_hid.h"
#include "support/error_handler.h"
#include "support/status_log.h"
#include "testkit/files.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

struct PanelTest : ::testing::Test {
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};
  SimulatedHid sim;
  PanelEngine engine{sim, log, errors};
  PanelController panel{engine, errors};
  testkit::ScratchFolder folder;
  Trap trap{errors, "Test", "Step"};
  std::size_t traceSeen = 0;

  void SetUp() override {
    ASSERT_TRUE(sim.openTrace(folder.path("trace")));
    log.setClock([] { return std::string("10:00:01"); });
    sim.useVirtualTime();
    engine.link().dimmerVendorId = kDefaultVendorId;
    engine.link().dimmerProductId = kDefaultProductId;
    engine.link().readTimeoutMs = 50;
  }
  // The commands the dimmer received since the last call: "set N", "go",
  // "step", "read", "motion".
  std::vector<std::string> sent() {
    const std::string text = testkit::getBytes(folder.path("trace"));
    std::istringstream lines(text.substr(std::exchange(traceSeen, text.size())));
    std::vector<std::string> out;
    for (std::string line; std::getline(lines, line);) {
      if (line[0] != '>') continue;
      const auto byte = [&](int k) { return std::stoi(line.substr(2 + 3 * k, 2), nullptr, 16); };
      const int code = byte(1);
      out.push_back(code == 0x20 ? "set " + std::to_string(byte(2) + 256 * byte(3))
                    : code == 0x10 ? "go" : code == 0x30 ? "step" : code == 0x21 ? "read" : "motion");
    }
    return out;
  }
  // One monitor step in a burst of its own; how long it took is in `took`.
  std::uint64_t took = 0;
  MonitorOutcome step(std::int32_t requested) {
    sim.advanceVirtualTime(kMonitorIntervalMs * 1000);
    engine.settle();
    const auto before = sim.now();
    const MonitorOutcome outcome = engine.monitorStep(trap, [=] { return double(requested); }).outcome;
    took = sim.now() - before;
    return outcome;
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

TEST_F(PanelTest, TheMonitorSearchesForALostDimmerLessAndLessOftenAndSendsTheRequestAgain) {
  ASSERT_TRUE(engine.sendBrightness(trap, [] { return 500; }));
  sim.unplug();
  sent();
  log.setShowStatus(true);
  EXPECT_EQ(step(500), MonitorOutcome::Lost);  // the read fails at once
  EXPECT_EQ(took, 0u);
  for (int k = 0; k < 40; ++k) {
    EXPECT_EQ(step(500), MonitorOutcome::Lost);
    EXPECT_EQ(took, 0u);
  }
  // Searches with pauses of 1, 3, 7 and 15 steps; only the first logs in full.
  const std::string text = log.logText();
  const auto count = [&](const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(std::pair(count("Searching for panel"), count("GUID for system HIDs")), (std::pair<std::size_t, std::size_t>(5, 1)));
  EXPECT_NE(text.find(" Device not found. (search 5 since the dimmer was lost)"), std::string::npos);
  // Back but silent: one step waits one bound, the next ones none.
  sim.replug();
  sim.faults().silent = true;
  std::vector<std::string> got;
  do ASSERT_EQ(step(500), MonitorOutcome::Lost);
  while ((got = sent()).empty());
  EXPECT_EQ(got, std::vector<std::string>{"set 500"});
  EXPECT_LE(took, 50'000u);
  EXPECT_TRUE(log.logText().starts_with("10:00:01:  Device found, but it did not answer (search 6 since"));
  sim.faults().silent = false;
  MonitorOutcome outcome;
  while ((outcome = step(500)) == MonitorOutcome::Lost) ASSERT_TRUE(sent().empty());
  EXPECT_EQ(outcome, MonitorOutcome::Found);
  EXPECT_EQ(sent(), (std::vector<std::string>{"set 500", "go"}));
}

TEST_F(PanelTest, WhatMissedTheDimmerGoesOutWithTheNextSearchThatFindsIt) {
  // Found but silent at start-up: the restored value and the step change
  // cost one bound together and wait.
  sim.faults().silent = true;
  const auto before = sim.now();
  ASSERT_TRUE(engine.sendBrightness(trap, [] { return 400; }) && engine.search(trap) && engine.setStepChange(trap));
  EXPECT_LE(sim.now() - before, 50'000u);
  EXPECT_EQ(sent(), (std::vector<std::string>{"set 400"}));
  sim.faults().silent = false;
  engine.settle();
  ASSERT_TRUE(engine.search(trap));
  EXPECT_EQ(sent(), (std::vector<std::string>{"set 400", "go", "step"}));
  // A request made while the dimmer is away goes out when it is back.
  sim.unplug();
  EXPECT_EQ(step(400), MonitorOutcome::Lost);
  ASSERT_TRUE(engine.sendBrightness(trap, [] { return 700; }));
  sim.replug();
  EXPECT_TRUE(sent().empty() && engine.resendPending());
  engine.settle();
  ASSERT_TRUE(engine.search(trap));
  EXPECT_EQ(sent(), (std::vector<std::string>{"set 700", "go"}));
  EXPECT_FALSE(engine.resendPending());
}

TEST_F(PanelTest, ARequestIsWatchedUntilThePanelRestsAtIt) {
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

TEST_F(PanelTest, FailuresAreNamedAndTheNextRequestSearchesAgain) {
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

  // Silence mid-move ends the watch as lost (the engine's tests time it).
  sim.faults().silent = true;
  ticksToRest();
  EXPECT_EQ(panel.state(), PanelController::State::Lost);
  EXPECT_NE(panel.failure().find("stopped answering"), std::string::npos);
}

}  // namespace
}  // namespace kelvane
