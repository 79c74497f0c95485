#include "support/status_log.h"

#include <gtest/gtest.h>

#include <utility>

#include "support/error_handler.h"
#include "testkit/files.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

using namespace std::chrono_literals;

struct StatusLogTest : ::testing::Test {
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};
  testkit::ScratchFolder folder;
  std::string file = folder.path("status.log");
  std::vector<std::string> views;
  std::string time = "10:00:01";
  StatusLog::Clock::time_point now{};

  void SetUp() override {
    log.setClock([this] { return time; });
    log.setPaceClock([this] { return now; });
    log.setFilePath(file);
    log.setErrorHandler(&errors);
    log.setViewSink([this](const std::string& v) { views.push_back(v); });
  }
  std::string fileText() const { return testkit::getBytes(file); }
};

TEST_F(StatusLogTest, OnlyAnOpenViewRecordsNewestFirstAndIdlePassesWriteTheFileOnceASecond) {
  log.message("closed");
  log.flush();
  EXPECT_TRUE(views.empty() && !std::filesystem::exists(file));
  testkit::putBytes(file, "a line of an earlier run\r\n");
  log.setShowStatus(true);
  log.message("a");
  EXPECT_EQ(log.idle(), 0ms);  // the first write is not held back
  EXPECT_EQ(fileText(), "10:00:01: a\r\n\r\n");
  now += 300ms;
  time = "10:00:02";
  log.message("b");
  log.message("");
  EXPECT_EQ(log.idle(), 700ms);
  EXPECT_EQ(views.back(), "10:00:02: \r\n10:00:02: b\r\n10:00:01: a\r\n");
  EXPECT_EQ(fileText(), "10:00:01: a\r\n\r\n");
  now += 700ms;
  EXPECT_EQ(log.idle(), 0ms);
  EXPECT_EQ(fileText(), views.back() + "\r\n");
  log.flush();  // nothing new: nothing rewritten
  EXPECT_EQ(views.size(), 2u);
  log.message("c");
  log.flush();  // before a dialog and at exit: at once
  EXPECT_EQ(fileText(), log.logText() + "\r\n");
  // The earlier run's file was moved aside, not overwritten.
  EXPECT_EQ(folder.names(), (std::set<std::string>{"status.log", "status.log.1"}));
  EXPECT_EQ(testkit::getBytes(file + ".1"), "a line of an earlier run\r\n");
}

// The view counts characters, whole ones; memory and file keep the newest
// lines up to the bound.
TEST_F(StatusLogTest, TheViewShowsTheNewest32000CharactersAndTheFileTheNewestMegabyte) {
  log.setShowStatus(true);
  std::string euros;
  for (int k = 0; k < 45; ++k) euros += "\xE2\x82\xAC";
  for (int k = 0; k < 600; ++k) log.message(euros);
  log.flush();  // lines of 57 characters in 147 bytes: 561 lines, then 10 + 13 characters
  EXPECT_EQ(views.back(), log.logText().substr(0, 561 * 147 + 10 + 13 * 3));
  for (const auto& [text, limit, bytes] : std::vector<std::tuple<std::string, std::size_t, std::size_t>>{
           {"ab\xF0\x9F\x98\x80" "c", 3, 6}, {"\x80\x80x", 2, 2}, {"a\xE2\x82", 2, 2}, {"\xFF\xC3", 5, 2}})
    EXPECT_EQ(utf8PrefixBytes(text, limit), bytes) << text;

  // 34 MiB of numbered lines, written as idle passes write them: the files
  // hold the newest 32 of them, newest first, none lost between files.
  const std::string pad(990, 'y');
  const int total = 34 * 1040;
  for (int k = 0; k < total; ++k) {
    log.message(std::to_string(k) + pad);
    if (k % 1000 == 0 || k == total - 1) log.flush();
  }
  EXPECT_TRUE(log.size() <= StatusLog::kKeepLimit && log.size() > StatusLog::kKeepLimit - 1000);
  EXPECT_EQ(fileText().substr(0, 1024), log.logText().substr(0, 1024));
  EXPECT_EQ(folder.names().size(), 1u + StatusLog::kOlderFiles);
  int expected = total - 1;
  for (int n = 0; n <= StatusLog::kOlderFiles; ++n) {
    const std::string text = testkit::getBytes(n ? file + "." + std::to_string(n) : file);
    EXPECT_LE(text.size(), StatusLog::kSegmentLimit + 2);
    for (std::size_t at = 0; at + 2 < text.size(); at = text.find('\n', at) + 1)
      ASSERT_EQ(std::stoi(text.substr(at + 10)), expected--) << n;
  }
  EXPECT_GT(expected, 0);  // the oldest went
}

TEST_F(StatusLogTest, AFileThatCannotBeWrittenIsExplainedOnceAndTriedAgainLater) {
  file = folder.path("missing/status.log");
  log.setFilePath(file);
  log.setShowStatus(true);
  log.message("a");
  log.flush();
  ASSERT_EQ(host.count("msgBox"), 1);
  EXPECT_EQ(host.shown[0].title, "Status Log");
  EXPECT_NE(host.shown[0].text.find("Its folder does not exist."), std::string::npos);
  // The failure is logged and shown; below it nothing is lost.
  EXPECT_TRUE(views.back().starts_with("10:00:01: Status log " + file + ": Error 76"));
  EXPECT_TRUE(views.back().ends_with("10:00:01: a\r\n"));
  // No dialog again; idle passes try every 10 s.
  log.message("b");
  EXPECT_EQ(log.idle(), 10s);
  now += 10s;
  log.flush();
  std::filesystem::create_directory(folder.path("missing"));
  EXPECT_EQ(log.idle(), 10s);
  now += 10s;
  EXPECT_EQ(log.idle(), 0ms);
  EXPECT_EQ(host.shown.size(), 1u);
  EXPECT_EQ(fileText(), log.logText() + "\r\n");
  EXPECT_TRUE(fileText().starts_with("10:00:01: Status log " + file + " written again"));
}

TEST_F(StatusLogTest, AFailureWhileRecordingGoesToTheMessageTrap) {
  log.setShowStatus(true);
  bool clockFails = true;
  log.setClock([&] { return std::exchange(clockFails, false) ? throw RuntimeError(rt::OutOfMemory) : time; });
  host.msgBox2Answers = {"Ignore"};
  log.message("a");
  EXPECT_EQ(host.shown.at(0).title, "Error 7 in Message");
  EXPECT_EQ(log.lineCount(), 1u);  // the report; the failed line is skipped
}

}  // namespace
}  // namespace kelvane
