// Any bytes as a settings file: reading must not fail, a write must keep the
// other keys as they read before and the written key must read back.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "settings/ini_store.h"
#include "support/file_helpers.h"

namespace {

// A memory-backed folder where there is one we may write to: every write
// ends in a flush to disk.
const std::string& scratchPath() {
  static const std::string folder =
      access("/dev/shm/", W_OK) == 0 ? std::string("/dev/shm/") : kelvane::getTempDir();
  static const std::string name = "kelvane_fuzz_" + std::to_string(getpid()) + ".ini";
  static const std::string path = folder + name;
  static const bool removedAtExit = std::atexit([] {
    std::remove(path.c_str());
    std::remove((folder + "." + name + ".lock").c_str());  // the store's write lock
  }) == 0;
  (void)removedAtExit;
  return path;
}

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::ofstream(scratchPath(), std::ios::binary | std::ios::trunc) << bytes;

  kelvane::IniStore store(scratchPath());
  const char* keys[] = {"LastBrightness", "PresetList1", "a", "T\xC3\xA9lescope|Mono|2x2|Red|"};
  std::string before[4];
  for (int i = 0; i < 4; ++i) before[i] = store.read("Initialization", keys[i]);
  (void)store.read("a", "a");

  // The written value depends on the input, with and without characters the
  // Windows code page lacks.
  const std::string value = size % 2 ? "250 \xC3\xA9" : "x\t\xE2\x98\x85\t";
  store.write("Initialization", "PresetIndex1", value);
  check(store.read("Initialization", "PresetIndex1") == value);
  for (int i = 0; i < 4; ++i) check(store.read("Initialization", keys[i]) == before[i]);
  return 0;
}
