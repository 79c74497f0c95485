#include "support/help_viewer_qt.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace kelvane {
namespace {

namespace fs = std::filesystem;

#ifndef _WIN32
struct HelpViewerTest : ::testing::Test {
  fs::path root = fs::temp_directory_path() / ("kelvane-viewer-" + std::to_string(std::random_device{}()));
  fs::path chm = root / "help" / "Kelvane.chm";
  QByteArray savedPath = qgetenv("PATH");

  void SetUp() override {
    fs::create_directories(root / "bin");
    fs::create_directories(chm.parent_path());
    std::ofstream(chm) << "chm";
    qputenv("PATH", QByteArray::fromStdString((root / "bin").string()));
  }
  void TearDown() override {
    qputenv("PATH", savedPath);
    fs::remove_all(root);
  }
};

TEST_F(HelpViewerTest, WithoutAViewerOrFileTheUserIsTold) {
  std::string error;
  EXPECT_FALSE(openHelpViewer(chm.string(), 2100, error));
  EXPECT_EQ(error, "No viewer for compiled help (.chm) files is installed. Install xCHM or KchmViewer "
                   "to read the help: " + chm.string());
  EXPECT_FALSE(openHelpViewer((root / "missing.chm").string(), 0, error));
  EXPECT_NE(error.find("missing.chm"), std::string::npos);
}

TEST_F(HelpViewerTest, ViewerOnPathIsStartedWithTheFile) {
  const std::string args = (root / "args.txt").string();
  const fs::path script = root / "bin" / "kchmviewer";
  std::ofstream(script) << "#!/bin/sh\nPATH=/usr/bin:/bin\nprintf '%s\\n' \"$@\" > '" << args
                        << ".tmp'\nmv '" << args << ".tmp' '" << args << "'\n";
  fs::permissions(script, fs::perms::owner_all);
  std::ofstream(root / "bin" / "xchm") << "not executable";  // passed over

  std::string error = "stale";
  ASSERT_TRUE(openHelpViewer(chm.string(), 2100, error));
  EXPECT_EQ(error, "");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!fs::exists(args) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::stringstream seen;
  seen << std::ifstream(args).rdbuf();
  EXPECT_EQ(seen.str(), chm.string() + "\n");
}
#endif

}  // namespace
}  // namespace kelvane
