#pragma once
// Scratch folders, byte-exact file access and the run-time failure a call
// raises, shared by the core tests.
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <set>
#include <string>

#include "support/runtime_error.h"

namespace kelvane::testkit {

// A fresh folder under the temporary folder, removed with all it holds.
struct ScratchFolder {
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("kelvane_test_" + std::to_string(std::random_device{}()));
  ScratchFolder() { std::filesystem::create_directories(dir); }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::string path(const std::string& name) const { return (dir / name).string(); }
  std::set<std::string> names() const {
    std::set<std::string> all;
    for (const auto& e : std::filesystem::directory_iterator(dir)) all.insert(e.path().filename().string());
    return all;
  }
};

// Writes the bytes, making the folders on the way.
inline void putBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string getBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The number of the RuntimeError f raises; 0 when it raises none.
inline int failureOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const RuntimeError& e) {
    return e.number();
  }
  return 0;
}

}  // namespace kelvane::testkit
