#pragma once
// A scratch folder per test and byte-exact file access for the settings tests.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>

namespace kelvane::testkit {

struct ScratchFolder {
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("kelvane_ini_" + std::to_string(std::random_device{}()));
  ScratchFolder() { std::filesystem::create_directories(dir); }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::string path(const std::string& name) const { return (dir / name).string(); }
  std::set<std::string> names() const {
    std::set<std::string> all;
    for (const auto& e : std::filesystem::directory_iterator(dir))
      all.insert(e.path().filename().string());
    return all;
  }
};

inline void putBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string getBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace kelvane::testkit
