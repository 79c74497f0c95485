// Reads and writes of a 10 MB settings file: the first read of a version of
// the file and a write stay linear in its size (a write also pays for the
// flush to disk); a read of a file that has not changed costs the same
// whatever its size.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "settings/ini_store.h"

namespace kelvane {
namespace {

struct BigFile {
  std::string path = (std::filesystem::temp_directory_path() / "kelvane_bench.ini").string();
  BigFile() {
    std::ofstream out(path, std::ios::binary);
    out << "[Other]\r\nA=1\r\n[Initialization]\r\n";
    std::size_t size = 0;
    for (int i = 0; size < 10'000'000; ++i) {
      const std::string line = "T\xE9lescope " + std::to_string(i) + "|Mono|2x2|Red|=250\r\n";
      out << line;
      size += line.size();
    }
  }
  ~BigFile() { std::filesystem::remove(path); }
};

void BM_FirstRead10MB(benchmark::State& state) {
  BigFile file;
  for (auto _ : state) benchmark::DoNotOptimize(IniStore(file.path).read("Initialization", "LastBrightness"));
}
BENCHMARK(BM_FirstRead10MB)->Unit(benchmark::kMillisecond);

void BM_ReadAgain10MB(benchmark::State& state) {
  BigFile file;
  IniStore store(file.path);
  store.write("Initialization", "LastBrightness", "1");  // a version of its own: no doubt it is unchanged
  (void)store.read("Initialization", "TurnOff");         // the first read finds the keys
  for (auto _ : state) benchmark::DoNotOptimize(store.read("Initialization", "LastBrightness"));
}
BENCHMARK(BM_ReadAgain10MB)->Unit(benchmark::kMicrosecond);

void BM_Write10MB(benchmark::State& state) {
  BigFile file;
  IniStore store(file.path);
  int n = 0;
  for (auto _ : state)
    store.write("Initialization", {{"LastBrightness", std::to_string(++n)}, {"TurnOff", "1"}});
}
BENCHMARK(BM_Write10MB)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvane
