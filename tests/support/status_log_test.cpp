#include "support/status_log.h"

#include <gtest/gtest.h>

#include <utility>

#include "support/error_handler.h"
#include "testkit/files.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

struct StatusLogTest : ::testing::Test {
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};
  testkit::ScratchFolder folder;
  std::string file = folder.path("status.log");
  std::vector<std::string> views;
  std::string time = "10:00:01";

  void SetUp() override {
    log.setClock([this] { return time; });
    log.setFilePath(file);
    log.setErrorHandler(&errors);
    log.setViewSink([this](const std::string& v) { views.push_back(v); });
  }
};

TEST_F(StatusLogTest, OnlyAnOpenViewRecordsNewestLineFirstAndTheFileEndsWithAnEmptyLine) {
  log.message("closed");
  log.flush();
  EXPECT_EQ(log.lineCount(), 0u);
  EXPECT_TRUE(views.empty());
  EXPECT_FALSE(std::filesystem::exists(file));

  testkit::putBytes(file, "a line of an earlier run\r\n");
  log.setShowStatus(true);
  log.message("a");
  time = "10:00:02";
  log.message("b");
  log.message("");
  EXPECT_EQ(log.logText(), "10:00:02: \r\n10:00:02: b\r\n10:00:01: a\r\n");
  log.flush();
  EXPECT_EQ(testkit::getBytes(file), log.logText() + "\r\n");
  EXPECT_EQ(views, std::vector<std::string>{log.logText()});
  log.flush();  // nothing new: nothing rewritten
  EXPECT_EQ(views.size(), 1u);
  EXPECT_EQ(folder.names(), std::set<std::string>{"status.log"});
  log.setShowStatus(false);
  log.message("c");
  EXPECT_EQ(log.lineCount(), 3u);
}

TEST_F(StatusLogTest, TheViewShowsTheNewest32000CharactersAndTheFileAll) {
  log.setShowStatus(true);
  for (int k = 0; k < 400; ++k) log.message(std::to_string(k) + std::string(90, 'x'));  // ~40000 characters
  log.flush();
  const std::string all = log.logText();
  ASSERT_GT(all.size(), StatusLog::kViewLimit);
  ASSERT_EQ(views.size(), 1u);
  EXPECT_EQ(views[0], all.substr(0, StatusLog::kViewLimit));
  EXPECT_TRUE(views[0].starts_with("10:00:01: 399x"));
  EXPECT_EQ(testkit::getBytes(file), all + "\r\n");
}

TEST_F(StatusLogTest, AFailingWriteIsReportedOnceAndTheLinesAreKept) {
  file = folder.path("missing/status.log");
  log.setFilePath(file);
  log.setShowStatus(true);
  host.msgBox2Answers = {"Ignore", "Ignore"};
  log.message("a");
  log.flush();
  ASSERT_EQ(host.count("msgBox2"), 1);
  EXPECT_EQ(host.shown[0].title, "Error 76 in StringtoFile");
  EXPECT_NE(host.shown[0].text.find("Module: Module1"), std::string::npos);
  // The report itself is logged and shown; below it nothing is lost.
  EXPECT_TRUE(log.logText().starts_with("10:00:01: Error 76 has been encountered in StringtoFile"));
  EXPECT_TRUE(log.logText().ends_with("10:00:01: a\r\n"));
  EXPECT_EQ(views.back(), log.viewText());

  log.flush();  // idle passes do not bring the dialog back; the next line tries again
  log.flush();
  EXPECT_EQ(host.count("msgBox2"), 1);
  log.message("b");
  log.flush();
  EXPECT_EQ(host.count("msgBox2"), 2);
  std::filesystem::create_directory(folder.path("missing"));  // once it can, everything reaches the file
  log.message("c");
  log.flush();
  EXPECT_EQ(host.count("msgBox2"), 2);
  EXPECT_EQ(testkit::getBytes(file), log.logText() + "\r\n");
}

// Recording runs under the Message trap, and ErrorProc its statements under
// its own: Ignore after a failure while the report is logged still shows it.
TEST_F(StatusLogTest, FailuresWhileRecordingGoToTheirTraps) {
  log.setShowStatus(true);
  bool clockFails = true, viewFails = false;
  log.setClock([&] { return std::exchange(clockFails, false) ? throw RuntimeError(rt::OutOfMemory) : time; });
  log.setViewSink([&](const std::string&) {
    if (std::exchange(viewFails, false)) throw RuntimeError(rt::OutOfMemory);
  });
  host.msgBox2Answers = {"Ignore", "Ignore", "Retry"};
  log.message("a");
  EXPECT_EQ(host.shown[0].title, "Error 7 in Message");
  EXPECT_EQ(log.lineCount(), 1u);  // the report; the failed line is skipped
  viewFails = true;
  EXPECT_EQ(errors.errorProc(13, "Type mismatch", "ReadSettings", "frmMDI", 0), answer::Retry);
  ASSERT_EQ(host.count("msgBox2"), 3);
  EXPECT_EQ(host.shown[1].title, "Error 7 in ErrorProc");
  EXPECT_NE(host.shown[1].text.find("Module: Common"), std::string::npos);
  EXPECT_EQ(host.shown[2].title, "Error 13 in ReadSettings");
  EXPECT_FALSE(errors.dialogOpen());
}

}  // namespace
}  // namespace kelvane
