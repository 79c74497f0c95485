#include "support/status_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "support/error_handler.h"
#include "support/file_helpers.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

namespace fs = std::filesystem;

struct StatusLogTest : ::testing::Test {
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};
  fs::path folder;
  std::vector<std::string> views;
  std::string time = "10:00:01";

  void SetUp() override {
    folder = fs::temp_directory_path() / ("kelvane_log_" + std::to_string(std::random_device{}()));
    fs::create_directories(folder);
    log.setClock([this] { return time; });
    log.setFilePath((folder / "status.log").string());
    log.setErrorHandler(&errors);
    log.setViewSink([this](const std::string& v) { views.push_back(v); });
  }
  void TearDown() override { fs::remove_all(folder); }

  std::string file() const {
    std::ifstream in(folder / "status.log", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
};

TEST_F(StatusLogTest, NothingIsRecordedWhileTheViewIsClosed) {
  log.message("a");
  log.flush();
  EXPECT_EQ(log.logText(), "");
  EXPECT_EQ(log.lineCount(), 0u);
  EXPECT_TRUE(views.empty());
  EXPECT_FALSE(fs::exists(folder / "status.log"));

  log.setShowStatus(true);
  log.message("b");
  log.setShowStatus(false);
  log.message("c");
  EXPECT_EQ(log.logText(), "10:00:01: b\r\n");
}

TEST_F(StatusLogTest, NewestLineFirstAndTheFileEndsWithAnEmptyLine) {
  { std::ofstream(folder / "status.log") << "a line of an earlier run\r\n"; }
  log.setShowStatus(true);
  log.message("a");
  time = "10:00:02";
  log.message("b");
  log.message("");
  EXPECT_EQ(log.logText(), "10:00:02: \r\n10:00:02: b\r\n10:00:01: a\r\n");
  log.flush();
  EXPECT_EQ(file(), "10:00:02: \r\n10:00:02: b\r\n10:00:01: a\r\n\r\n");
  ASSERT_EQ(views.size(), 1u);
  EXPECT_EQ(views[0], log.logText());
  log.flush();  // nothing new: nothing rewritten
  EXPECT_EQ(views.size(), 1u);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST_F(StatusLogTest, TheViewShowsTheNewest32000CharactersAndTheFileAll) {
  log.setShowStatus(true);
  const std::string text(90, 'x');
  for (int k = 0; k < 400; ++k) log.message(std::to_string(k) + text);  // ~40000 characters
  log.flush();
  const std::string all = log.logText();
  ASSERT_GT(all.size(), StatusLog::kViewLimit);
  EXPECT_EQ(log.viewText(), all.substr(0, StatusLog::kViewLimit));
  ASSERT_EQ(views.size(), 1u);
  EXPECT_EQ(views[0].size(), StatusLog::kViewLimit);
  EXPECT_EQ(views[0].rfind("10:00:01: 399x", 0), 0u);
  EXPECT_EQ(file(), all + "\r\n");
}

TEST_F(StatusLogTest, AFailingWriteIsReportedOnceAndTheLinesAreKept) {
  log.setFilePath((folder / "missing" / "status.log").string());
  log.setShowStatus(true);
  host.msgBox2Answers = {"Ignore", "Ignore"};
  log.message("a");
  log.flush();
  ASSERT_EQ(host.count("msgBox2"), 1);
  EXPECT_EQ(host.shown[0].title, "Error 76 in StringtoFile");
  EXPECT_NE(host.shown[0].text.find("Module: Module1"), std::string::npos);
  // The report itself is logged and shown, below nothing is lost.
  EXPECT_EQ(log.logText().rfind("10:00:01: Error 76 has been encountered in StringtoFile", 0), 0u);
  EXPECT_NE(log.logText().find("10:00:01: a\r\n"), std::string::npos);
  EXPECT_EQ(views.back(), log.viewText());

  // Idle passes do not bring the dialog back; the next line tries again.
  log.flush();
  log.flush();
  EXPECT_EQ(host.count("msgBox2"), 1);
  log.message("b");
  log.flush();
  EXPECT_EQ(host.count("msgBox2"), 2);

  // Once the folder is there, everything recorded reaches the file.
  fs::create_directory(folder / "missing");
  log.message("c");
  log.flush();
  EXPECT_EQ(host.count("msgBox2"), 2);
  std::ifstream in(folder / "missing" / "status.log", std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_EQ(s.str(), log.logText() + "\r\n");
}

TEST_F(StatusLogTest, AFailureWhileRecordingGoesToTheMessageTrap) {
  log.setShowStatus(true);
  int calls = 0;
  log.setClock([&] {
    if (++calls == 1) throw RuntimeError(rt::OutOfMemory);
    return std::string("10:00:03");
  });
  host.msgBox2Answers = {"Ignore"};
  log.message("a");
  ASSERT_EQ(host.count("msgBox2"), 1);
  EXPECT_EQ(host.shown[0].title, "Error 7 in Message");
  EXPECT_NE(host.shown[0].text.find("Module: Module1"), std::string::npos);
  EXPECT_EQ(log.lineCount(), 1u);  // the report; the failed line is skipped
}

// ErrorProc runs its statements under its own trap: Ignore after a failure
// while the report is logged still shows the report.
TEST_F(StatusLogTest, AFailureWhileLoggingAReportStillShowsIt) {
  log.setShowStatus(true);
  int sinkCalls = 0;
  log.setViewSink([&](const std::string& v) {
    if (++sinkCalls == 1) throw RuntimeError(rt::OutOfMemory);
    views.push_back(v);
  });
  host.msgBox2Answers = {"Ignore", "Retry"};
  EXPECT_EQ(errors.errorProc(13, "Type mismatch", "ReadSettings", "frmMDI", 0), answer::Retry);
  ASSERT_EQ(host.count("msgBox2"), 2);
  EXPECT_EQ(host.shown[0].title, "Error 7 in ErrorProc");
  EXPECT_NE(host.shown[0].text.find("Module: Common"), std::string::npos);
  EXPECT_EQ(host.shown[1].title, "Error 13 in ReadSettings");
  EXPECT_FALSE(errors.dialogOpen());

  // The failed flush left the log able to flush again.
  const auto before = views.size();
  log.message("later");
  log.flush();
  EXPECT_EQ(views.size(), before + 1);
  EXPECT_EQ(views.back().rfind("10:00:01: later\r\n", 0), 0u);
}

TEST(StatusLogTimeTest, TheTimeOfDayIsNotEmpty) { EXPECT_FALSE(localTimeOfDay().empty()); }

}  // namespace
}  // namespace kelvane
