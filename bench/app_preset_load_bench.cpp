// Start-up with a long preset list: 20,000 distinct names in random order
// (and a twentieth of them again in other case) in selector 1, loaded, sorted and
// de-duplicated by the window's start-up on the simulated dimmer.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/frm_mdi.h"
#include "device/sim_hid.h"
#include "support/error_handler.h"
#include "support/status_log.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

void BM_StartWithLongPresetList(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  QTemporaryDir config{QStringLiteral("/dev/shm/kelvane-bench-XXXXXX")};
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  std::mt19937 rng(1);
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i)
    names.push_back("Scope " + std::to_string(rng() % 10000000) + (i % 2 ? " f/5" : " F/7"));
  for (int i = 0; i < count / 20; ++i) names.push_back("SCOPE" + names[static_cast<std::size_t>(i)].substr(5));
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : "\t") + name;
  QDir().mkpath(config.path() + "/Kelvane");
  std::ofstream(config.path().toStdString() + "/Kelvane/Kelvane.ini", std::ios::binary)
      << "[Initialization]\r\nPresetList1=" << list << "\r\nPresetIndex1=5\r\n";

  int entries = 0;
  for (auto _ : state) {
    testkit::ScriptedHost host;
    StatusLog log;
    ErrorHandler errors{host, log};
    SimulatedHid sim;
    FrmMDIOptions options;
    options.programFolder = config.path().toStdString() + "/";
    FrmMDI window(host, log, errors, sim, options);
    if (!window.formLoad()) state.SkipWithError("start-up failed");
    entries = window.cmbPreset[1]->count();
  }
  state.counters["entries"] = entries;
}
BENCHMARK(BM_StartWithLongPresetList)->Arg(1000)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvane
