#include <gtest/gtest.h>

#include "support/error_handler.h"
#include "support/status_log.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

struct TrapFixture : ::testing::Test {
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};
};

TEST_F(TrapFixture, RetryRepeatsTheFailingStepUntilItSucceeds) {
  host.msgBox2Answers = {"Retry", "Retry"};
  int attempts = 0, after = 0;
  Trap trap(errors, "Module1", "ReadINIFile");
  EXPECT_TRUE(trap([&] {
    if (++attempts < 3) throw RuntimeError(rt::TypeMismatch);
  }));
  EXPECT_TRUE(trap([&] { ++after; }));
  EXPECT_EQ(attempts, 3);
  EXPECT_EQ(after, 1);
  ASSERT_EQ(host.count("msgBox2"), 2);
  EXPECT_EQ(host.shown[0].title, "Error 13 in ReadINIFile");
  EXPECT_EQ(host.shown[0].buttonList, "Copy,Abort,Retry,Ignore");
}

TEST_F(TrapFixture, IgnoreGoesOnWithTheNextStep) {
  host.msgBox2Answers = {"Ignore"};
  std::vector<int> ran;
  Trap trap(errors, "frmMDI", "ReadSettings");
  EXPECT_TRUE(trap([&] { ran.push_back(1); throw RuntimeError(rt::Overflow); }));
  EXPECT_TRUE(trap([&] { ran.push_back(2); }));
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}

TEST_F(TrapFixture, AnyOtherAnswerLeavesTheProcedure) {
  host.msgBox2Answers = {""};  // window closed by its title bar
  int later = 0;
  Trap trap(errors, "frmMDI", "UpdateBrightness");
  EXPECT_FALSE(trap([&] { throw RuntimeError(rt::SubscriptOutOfRange); }));
  EXPECT_FALSE(trap([&] { ++later; }));
  EXPECT_EQ(later, 0);
  EXPECT_EQ(host.endProgramCalls, 0);
}

TEST_F(TrapFixture, AbortRunsShutDownOnlyForMainWindowProcedures) {
  int shutDowns = 0;
  errors.setMainWindowShutDown([&] { ++shutDowns; });
  host.msgBox2Answers = {"Abort"};
  Trap trap(errors, "frmMDI", "TimerCheckPanel_Timer");
  EXPECT_FALSE(trap([&] { throw RuntimeError(rt::SubscriptOutOfRange); }));
  EXPECT_EQ(shutDowns, 1);
  EXPECT_EQ(host.endProgramCalls, 1);

  testkit::ScriptedHost host2;
  StatusLog log2;
  ErrorHandler errors2(host2, log2);
  errors2.setMainWindowShutDown([&] { ++shutDowns; });
  host2.msgBox2Answers = {"Abort"};
  Trap other(errors2, "Module1", "WriteINIFile");
  EXPECT_FALSE(other([&] { throw RuntimeError(rt::PermissionDenied); }));
  EXPECT_EQ(shutDowns, 1);
  EXPECT_EQ(host2.endProgramCalls, 1);
}

TEST_F(TrapFixture, AnswersAreMatchedExactly) {
  host.msgBox2Answers = {"abort", "Copy"};
  Trap a(errors, "Common", "FileExists");
  EXPECT_FALSE(a([] { throw RuntimeError(rt::BadFileName); }));
  Trap b(errors, "Common", "PathExists");
  EXPECT_FALSE(b([] { throw RuntimeError(rt::BadFileName); }));
  EXPECT_EQ(host.endProgramCalls, 0);
}

TEST_F(TrapFixture, ErrorTextIsWordedAsTheRunTimeReportsIt) {
  EXPECT_EQ(ErrorHandler::errorText(13, "Bad value", "ReadSettings", "frmMDI", 0),
            "Error 13 has been encountered in ReadSettings\r\n\r\n"
            "Details of this error: \r\n\r\n"
            "Error: 13\r\nDesc: Bad value\r\nLocation: ReadSettings\r\nModule: frmMDI\r\n"
            "Line Number: 0\r\n\r\n"
            "Abort will end the program\r\nRetry will try the function again\r\n"
            "Ignore will skip the problem and try to continue");
  const std::string negative = ErrorHandler::errorText(-7, "", "X", "Common", 0);
  EXPECT_EQ(negative.rfind("Error -7 has been encountered in X\r\n", 0), 0u);
  EXPECT_NE(negative.find("\r\nError: -7\r\nDesc: \r\n"), std::string::npos);
  EXPECT_EQ(ErrorHandler::errorTitle(-7, "X"), "Error -7 in X");
}

TEST_F(TrapFixture, ForeignExceptionsGetClassicNumbers) {
  host.msgBox2Answers = {"Ignore", "Ignore", "Ignore"};
  Trap trap(errors, "MISC", "ReadFiletoString");
  trap([] { throw std::bad_alloc(); });
  trap([] { std::vector<int> v; (void)v.at(3); });
  trap([] { throw std::runtime_error("x"); });
  ASSERT_EQ(host.shown.size(), 3u);
  EXPECT_EQ(host.shown[0].title, "Error 7 in ReadFiletoString");
  EXPECT_EQ(host.shown[1].title, "Error 9 in ReadFiletoString");
  EXPECT_EQ(host.shown[2].title, "Error 5 in ReadFiletoString");
}

TEST_F(TrapFixture, AFailingErrorDialogIsReportedOnceAndThenGivesUp) {
  struct ThrowingHost : testkit::ScriptedHost {
    int calls = 0;
    std::string msgBox2(const std::string&, const std::string&, const std::string& title, int,
                        bool&) override {
      ++calls;
      titles.push_back(title);
      throw RuntimeError(rt::CantCreateAutoRedrawImage);
    }
    std::vector<std::string> titles;
  } throwing;
  StatusLog quiet;
  ErrorHandler handler(throwing, quiet);
  Trap trap(handler, "frmMDI", "WriteSettings");
  EXPECT_FALSE(trap([] { throw RuntimeError(rt::DiskFull); }));
  // The original report, then one report of the error path's own failure.
  EXPECT_EQ(throwing.calls, 2);
  EXPECT_EQ(throwing.titles[1], "Error 480 in ErrorProc");
  EXPECT_FALSE(handler.dialogOpen());
}

TEST_F(TrapFixture, TheFailureIsLoggedWhileTheViewIsOpen) {
  log.setShowStatus(true);
  log.setClock([] { return std::string("10:00:00"); });
  host.msgBox2Answers = {"Ignore"};
  Trap trap(errors, "frmMDI", "ReadReport");
  trap([] { throw RuntimeError(rt::SubscriptOutOfRange); });
  EXPECT_EQ(log.logText().rfind("10:00:00: Error 9 has been encountered in ReadReport\r\n", 0), 0u);
}

}  // namespace
}  // namespace kelvane
