#include "settings/ini_file.h"

#include <gtest/gtest.h>

#include "support/error_handler.h"
#include "support/status_log.h"
#include "testkit/files.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

struct IniFileTest : ::testing::Test {
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};
  testkit::ScratchFolder folder;
  std::string file = folder.path("Kelvane.ini");
  IniStore store{file};
};

TEST_F(IniFileTest, ReadsGiveTheDefaultForMissingOrEmptyKeysAndFailedReads) {
  EXPECT_EQ(readINIFile(errors, store, "TurnOff", "1"), "1");  // no file yet
  testkit::putBytes(file, "[Initialization]\r\nTurnOff=0\r\nPresetList2=\r\n");
  EXPECT_EQ(readINIFile(errors, store, "TurnOff", "1"), "0");
  EXPECT_EQ(readINIFile(errors, store, "PresetList2", "Default"), "Default");
  EXPECT_EQ(host.count("msgBox2"), 0);

  std::filesystem::remove(file);
  std::filesystem::create_directory(file);
  host.msgBox2Answers = {"Ignore", ""};
  EXPECT_EQ(readINIFile(errors, store, "LastBrightness", "100"), "100");
  EXPECT_EQ(readINIFile(errors, store, "LastBrightness", "100"), "");  // left at once
  ASSERT_EQ(host.count("msgBox2"), 2);
  EXPECT_EQ(host.shown[0].title, "Error 75 in ReadINIFile");
  EXPECT_NE(host.shown[0].text.find("Module: Module1"), std::string::npos);
}

TEST_F(IniFileTest, WriteSucceedsOnlyWhenTheFileWasWritten) {
  std::filesystem::create_directory(file);
  for (const char* giveUp : {"Ignore", ""}) {
    host.msgBox2Answers = {giveUp};
    EXPECT_FALSE(writeINIFile(errors, store, {{"A", "2"}, {"B", "3"}})) << giveUp;
  }
  EXPECT_EQ(host.shown.back().title, "Error 75 in WriteINIFile");
  host.msgBox2Answers = {"Retry"};  // after the user cleared the obstacle
  host.onShow = [&](const testkit::ShownBox&) { std::filesystem::remove(file); };
  EXPECT_TRUE(writeINIFile(errors, store, "A", "2"));
  EXPECT_EQ(readINIFile(errors, store, "A", ""), "2");
}

}  // namespace
}  // namespace kelvane
