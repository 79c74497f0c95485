#include <gtest/gtest.h>

#include "support/error_handler.h"
#include "support/status_log.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

struct TrapTest : ::testing::Test {
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};
};

TEST_F(TrapTest, RetryRepeatsTheStepIgnoreGoesOnAnyOtherAnswerLeaves) {
  struct Case {
    std::deque<std::string> answers;
    bool goesOn;
    int attempts;  // of the failing step
  };
  log.setShowStatus(true);
  log.setClock([] { return std::string("10:00:00"); });
  for (const Case& c : {Case{{"Retry", "Retry"}, true, 3}, Case{{"Ignore"}, true, 1}, Case{{""}, false, 1},
                        Case{{"abort"}, false, 1}, Case{{"Copy"}, false, 1}}) {  // answers are matched exactly
    host.msgBox2Answers = c.answers;
    int attempts = 0, next = 0;
    Trap trap(errors, "Module1", "ReadINIFile");
    EXPECT_EQ(trap([&] {
      if (++attempts < 3) throw RuntimeError(rt::TypeMismatch);
    }), c.goesOn);
    EXPECT_EQ(trap([&] { ++next; }), c.goesOn);
    EXPECT_EQ(attempts, c.attempts);
    EXPECT_EQ(next, c.goesOn ? 1 : 0);
  }
  EXPECT_EQ(std::tuple(host.shown[0].title, host.shown[0].buttonList, host.endProgramCalls),
            std::tuple("Error 13 in ReadINIFile", "Copy,Abort,Retry,Ignore", 0));
  // The failure is logged while the view is open.
  EXPECT_NE(log.logText().find("10:00:00: Error 13 has been encountered in ReadINIFile\r\n"), std::string::npos);
}

TEST(AbortTest, EndsTheProgramAfterShutDownOnlyForMainWindowProcedures) {
  for (const auto& [module, shutDowns] : {std::pair{"frmMDI", 1}, {"Module1", 0}}) {
    testkit::ScriptedHost host;
    StatusLog log;
    ErrorHandler errors(host, log);
    int calls = 0;
    errors.setMainWindowShutDown([&] { ++calls; });
    host.msgBox2Answers = {"Abort"};
    Trap trap(errors, module, "ReadReport");
    EXPECT_FALSE(trap([] { throw RuntimeError(rt::SubscriptOutOfRange); }));
    EXPECT_EQ(calls, shutDowns) << module;
    EXPECT_EQ(host.endProgramCalls, 1);
  }
}

TEST_F(TrapTest, ErrorTextIsWordedAsTheRunTimeReportsIt) {
  EXPECT_EQ(ErrorHandler::errorText(13, "Bad value", "ReadSettings", "frmMDI", 0),
            "Error 13 has been encountered in ReadSettings\r\n\r\n"
            "Details of this error: \r\n\r\n"
            "Error: 13\r\nDesc: Bad value\r\nLocation: ReadSettings\r\nModule: frmMDI\r\n"
            "Line Number: 0\r\n\r\n"
            "Abort will end the program\r\nRetry will try the function again\r\n"
            "Ignore will skip the problem and try to continue");
  const std::string negative = ErrorHandler::errorText(-7, "", "X", "Common", 0);
  EXPECT_TRUE(negative.starts_with("Error -7 has been encountered in X\r\n"));
  EXPECT_NE(negative.find("\r\nError: -7\r\nDesc: \r\n"), std::string::npos);
  EXPECT_EQ(ErrorHandler::errorTitle(-7, "X"), "Error -7 in X");

  // Whatever else a step throws gets a classic number.
  host.msgBox2Answers = {"Ignore", "Ignore", "Ignore"};
  Trap trap(errors, "MISC", "ReadFiletoString");
  trap([] { throw std::bad_alloc(); });
  trap([] { (void)std::vector<int>().at(3); });
  trap([] { throw std::runtime_error("x"); });
  std::vector<std::string> titles;
  for (const auto& box : host.shown) titles.push_back(box.title);
  EXPECT_EQ(titles, (std::vector<std::string>{"Error 7 in ReadFiletoString", "Error 9 in ReadFiletoString",
                                              "Error 5 in ReadFiletoString"}));
}

TEST_F(TrapTest, AFailingErrorDialogIsReportedOnceAndThenGivesUp) {
  struct ThrowingHost : testkit::ScriptedHost {
    std::vector<std::string> titles;
    std::string msgBox2(const std::string&, const std::string&, const std::string& title, int, bool&) override {
      titles.push_back(title);
      throw RuntimeError(rt::CantCreateAutoRedrawImage);
    }
  } throwing;
  ErrorHandler handler(throwing, log);
  Trap trap(handler, "frmMDI", "WriteSettings");
  EXPECT_FALSE(trap([] { throw RuntimeError(rt::DiskFull); }));
  // The original report, then one report of the error path's own failure.
  EXPECT_EQ(throwing.titles, (std::vector<std::string>{"Error 61 in WriteSettings", "Error 480 in ErrorProc"}));
  EXPECT_FALSE(handler.dialogOpen());
}

}  // namespace
}  // namespace kelvane
