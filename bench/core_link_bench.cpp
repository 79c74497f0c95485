// The program's own cost around the device: one report exchange against the
// simulated dimmer with no device delay, discovery over growing interface
// lists, and the per-line cost of the status log as it grows.
#include <benchmark/benchmark.h>

#include "device/device_link.h"
#include "device/sim_hid.h"
#include "support/error_handler.h"
#include "support/status_log.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

struct Rig {
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};
  SimulatedHid sim;
  DeviceLink link{sim, log, errors};
  explicit Rig(bool logging) {
    log.setClock([] { return std::string("10:00:00 PM"); });
    log.setErrorHandler(&errors);  // as in the program: Message runs under its trap
    link.dimmerVendorId = kDefaultVendorId;
    link.dimmerProductId = kDefaultProductId;
    link.deviceDetected = link.findTheHid();
    log.setShowStatus(logging);
  }
};

void BM_Exchange(benchmark::State& state) {
  Rig rig(state.range(0) != 0);
  for (auto _ : state) {
    encodeReadPanelValue(rig.link.commandBytes);
    rig.link.writeReport();
    benchmark::DoNotOptimize(rig.link.readReport());
    if (rig.log.lineCount() > 200000) {
      state.PauseTiming();
      rig.log = StatusLog();
      rig.log.setClock([] { return std::string("10:00:00 PM"); });
      rig.log.setErrorHandler(&rig.errors);
      rig.log.setShowStatus(true);
      state.ResumeTiming();
    }
  }
  state.SetLabel(state.range(0) ? "log open" : "log closed");
}
BENCHMARK(BM_Exchange)->Arg(0)->Arg(1);

void BM_FindTheHid(benchmark::State& state) {
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors(host, log);
  SimulatedHid sim;
  auto dimmer = sim.dimmerInterface();
  sim.interfaces().clear();
  for (int i = 1; i < state.range(0); ++i)
    sim.interfaces().push_back(SimulatedHid::makeOther("other#" + std::to_string(i), 0x046D, 0xC000));
  sim.interfaces().push_back(dimmer);
  DeviceLink link(sim, log, errors);
  link.dimmerVendorId = kDefaultVendorId;
  link.dimmerProductId = kDefaultProductId;
  for (auto _ : state) {
    benchmark::DoNotOptimize(link.findTheHid());
    link.closeHandles();
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_FindTheHid)->Arg(1)->Arg(10)->Arg(100)->Complexity(benchmark::oN);

// Per-line cost of Message once the log already holds N lines.
void BM_MessageAtSize(benchmark::State& state) {
  StatusLog log;
  log.setShowStatus(true);
  log.setClock([] { return std::string("10:00:00 PM"); });
  testkit::ScriptedHost host;
  ErrorHandler errors(host, log);
  log.setErrorHandler(&errors);
  const std::string line = "Result: 2C";
  for (std::int64_t i = 0; i < state.range(0); ++i) log.message(line);
  for (auto _ : state) log.message(line);
}
BENCHMARK(BM_MessageAtSize)->Arg(1000)->Arg(100000)->Arg(1000000);

}  // namespace
}  // namespace kelvane
