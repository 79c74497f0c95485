#include "settings/ini_file.h"

#include <gtest/gtest.h>

#include "support/status_log.h"
#include "testkit/files.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

namespace fs = std::filesystem;

struct IniFileTest : ::testing::Test {
  testkit::ScriptedHost host;
  StatusLog log;
  testkit::ScratchFolder folder;
  std::string file = folder.path("Kelvane.ini");
  SettingsFile settings{host, log};
  void SetUp() override { settings.setPath(file); }
};

TEST_F(IniFileTest, MissingOrEmptyKeysGiveTheDefault) {
  EXPECT_EQ(settings.read("TurnOff", "1"), "1");  // no file yet
  testkit::putBytes(file, "[Initialization]\r\nTurnOff=0\r\nPresetList2=\r\n");
  EXPECT_EQ(settings.read("TurnOff", "1"), "0");
  EXPECT_EQ(settings.read("PresetList2", "Default"), "Default");
  EXPECT_TRUE(settings.write({{"A", "2"}}));
  EXPECT_EQ(settings.read("A", ""), "2");
  EXPECT_TRUE(host.shown.empty());
}

// Reads give the default, writes are dropped, and each cause is explained
// once, however often it is met.
TEST_F(IniFileTest, AFileThatCannotBeUsedIsExplainedOncePerCause) {
  const std::pair<std::function<void()>, std::string> causes[] = {
      {[&] { fs::create_directory(file); }, "A folder of that name stands where the file should be."},
      {[&] { settings.setPath(file = folder.path("gone/Kelvane.ini")); }, "Its folder does not exist."},
  };
  for (const auto& [breakIt, why] : causes) {
    breakIt();
    const std::size_t before = host.shown.size();
    for (int click = 0; click < 3; ++click) {
      EXPECT_EQ(settings.read("TurnOff", "1"), "1");
      EXPECT_FALSE(settings.write({{"TurnOff", "0"}}));
    }
    ASSERT_EQ(host.shown.size(), before + 1) << why;
    EXPECT_EQ(host.shown.back().kind, "msgBox");
    EXPECT_EQ(host.shown.back().title, kSettingsProblemTitle);
    EXPECT_NE(host.shown.back().text.find(file + "\r\n\r\n" + why), std::string::npos) << host.shown.back().text;
  }
  EXPECT_FALSE(settings.write({{"A", "1"}}, false));  // the caller explains it itself
  EXPECT_EQ(settings.lastProblem(), settingsProblem(file, rt::PathNotFound));
}

}  // namespace
}  // namespace kelvane
