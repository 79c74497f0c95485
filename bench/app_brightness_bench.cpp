// End to end against the simulated dimmer with no device delay: one "+"
// press (both sends, nested chain included) and one monitor tick, with the
// status view closed and open. The settings live on a RAM-backed folder so
// the figure is the program's own cost rather than the disk's.
#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <QDir>
#include <cstdlib>
#include <fstream>
#include <string>
#include <memory>

#include "app/frm_mdi.h"
#include "device/sim_hid.h"
#include "support/error_handler.h"
#include "support/status_log.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

struct Rig {
  QTemporaryDir config{QStringLiteral("/dev/shm/kelvane-bench-XXXXXX")};
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};
  SimulatedHid sim;
  std::unique_ptr<FrmMDI> window;

  // settingsBytes: a settings file of about that size, full of presets.
  explicit Rig(bool logging, std::size_t settingsBytes = 0) {
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    if (settingsBytes) {
      QDir(config.path()).mkpath(QStringLiteral("Kelvane"));
      std::ofstream out(config.path().toStdString() + "/Kelvane/Kelvane.ini", std::ios::binary);
      std::string text = "[Initialization]\r\nLastBrightness=100\r\n";
      for (int i = 0; text.size() < settingsBytes; ++i) text += "Scope" + std::to_string(i) + "|Mono|2x2|Red|=250\r\n";
      out << text;
    }
    log.setClock([] { return std::string("10:00:00 PM"); });
    FrmMDIOptions options;
    options.programFolder = config.path().toStdString() + "/";
    window = std::make_unique<FrmMDI>(host, log, errors, sim, options);
    window->formLoad();
    log.setShowStatus(logging);
  }
  void trimLog() {
    if (log.lineCount() > 100000) {
      log = StatusLog();
      log.setClock([] { return std::string("10:00:00 PM"); });
      log.setShowStatus(true);
    }
  }
};

void BM_PlusPress(benchmark::State& state) {
  Rig rig(state.range(0) != 0);
  FrmMDI& w = *rig.window;
  bool up = true;
  for (auto _ : state) {
    if (up) w.cmdBright1_Click(); else w.cmdDim1_Click();
    up = !up;
    state.PauseTiming();
    rig.trimLog();
    state.ResumeTiming();
  }
  state.counters["exchanges"] = benchmark::Counter(4.0 * static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.SetLabel(state.range(0) ? "log open" : "log closed");
}
BENCHMARK(BM_PlusPress)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The same press with a settings file of 1 KB and of 12 MB: a press reads and
// rewrites the file, and must cost about the same whatever its size (at
// most twice as much).
void BM_PlusPressSettingsFile(benchmark::State& state) {
  Rig rig(false, static_cast<std::size_t>(state.range(0)));
  FrmMDI& w = *rig.window;
  bool up = true;
  for (auto _ : state) {
    if (up) w.cmdBright1_Click(); else w.cmdDim1_Click();
    up = !up;
  }
  state.SetLabel(state.range(0) > 1000000 ? "12 MB settings" : "1 KB settings");
}
BENCHMARK(BM_PlusPressSettingsFile)->Arg(1000)->Arg(12000000)->Unit(benchmark::kMicrosecond);

void BM_MonitorTick(benchmark::State& state) {
  Rig rig(state.range(0) != 0);
  FrmMDI& w = *rig.window;
  rig.sim.dimmer().setPanelValue(w.brightness());
  for (auto _ : state) {
    w.timerCheckPanel_Timer();
    state.PauseTiming();
    rig.trimLog();
    state.ResumeTiming();
  }
  state.counters["exchanges"] = benchmark::Counter(2.0 * static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.SetLabel(state.range(0) ? "log open" : "log closed");
}
BENCHMARK(BM_MonitorTick)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kelvane

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
