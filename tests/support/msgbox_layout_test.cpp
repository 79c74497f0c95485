#include "support/msgbox_layout.h"

#include <gtest/gtest.h>

#include "support/error_handler.h"
#include "support/runtime_error.h"
#include "support/status_log.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

using Lines = std::vector<std::string>;

// Every character 100 twips wide, every line 195 high.
struct FakeSurface : DrawingSurface {
  double w = 0, h = 0, y = 0;
  Lines printed;
  int failNumber = 0;  // every measurement throws it

  static Lines split(const std::string& text) {
    Lines out;
    for (std::size_t start = 0, br = 0; br != std::string::npos; start = br + 2)
      out.push_back(text.substr(start, (br = text.find("\r\n", start)) - start));
    return out;
  }
  void clear() override { printed.clear(), y = 0; }
  void print(const std::string& s) override { for (const auto& l : split(s)) printed.push_back(l), y += 195; }
  double currentY() const override { return y; }
  double textWidth(const std::string& text) override {
    if (failNumber) throw RuntimeError(failNumber);
    std::size_t widest = 0;
    for (const auto& line : split(text)) widest = std::max(widest, line.size());
    return 100.0 * static_cast<double>(widest);
  }
  double textHeight(const std::string& text) override { return 195.0 * split(text).size(); }
  double width() const override { return w; }
  double height() const override { return h; }
  void setWidth(double t) override { w = t; }
  void setHeight(double t) override { h = t; }
  double screenWidth() const override { return 19200; }
};

struct MsgBoxLayoutTest : ::testing::Test {
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};
  FakeSurface pic;
  MsgBoxLayoutInput in;

  MsgBoxLayout layout(const std::string& text, const std::string& buttons, bool showAgain = false) {
    in.text = text, in.buttonList = buttons, in.showAgain = showAgain;
    in.screenWidth = 19200, in.screenHeight = 14400;
    return computeMsgBox2Layout(errors, in, pic);
  }
};

TEST_F(MsgBoxLayoutTest, TextIsMeasuredStrictlyInsideAndWrappedAfterTheLastBlank) {
  // {surface width, high, expected}: one character is assumed to fit.
  for (const auto& [width, high, fit] : {std::tuple{10000, 6, 6}, {350, 6, 3}, {300, 6, 2}, {601, 6, 6}, {50, 1, 1}}) {
    pic.w = width;
    EXPECT_EQ(findStrWidth(errors, "abcdef", pic, 1, high), fit) << width;
  }
  pic.w = 1000;  // nine characters fit; the height counts a spare line
  EXPECT_EQ(printPic(errors, "aaa bbb ccc ddd", pic, true), 3 * 195);
  EXPECT_EQ(pic.printed, (Lines{"aaa bbb ", "ccc ddd "}));
  printPic(errors, "abcdefghijklm", pic, true);  // one long word is broken
  EXPECT_EQ(pic.printed, (Lines{"abcdefghi", "jklm "}));
  printPic(errors, "aaa bbb ccc\r\n\r\nd", pic, true);
  EXPECT_EQ(pic.printed, (Lines{"aaa bbb ", "ccc", "", "d "}));
}

TEST_F(MsgBoxLayoutTest, FailedMeasuringAlwaysEnds) {
  pic.w = 500;
  pic.failNumber = rt::CantCreateAutoRedrawImage;  // 480: whole rest as one line, nobody asked
  EXPECT_EQ(findStrWidth(errors, "abcdef", pic, 1, 6), 19200);
  printPic(errors, "a text that would wrap", pic, true);
  EXPECT_EQ(pic.printed, (Lines{"a text that would wrap "}));
  EXPECT_EQ(host.count("msgBox2"), 0);

  pic.failNumber = rt::InvalidProcedureCall;  // Ignore: nothing found, one character taken
  host.msgBox2Answers.assign(100, "Ignore");
  printPic(errors, "ab c", pic, true);
  EXPECT_EQ(pic.printed, (Lines{"a", "b", " ", "c", " "}));
  EXPECT_EQ(host.shown.front().title, "Error 5 in FindStrWidth");
  host.msgBox2Answers.clear();  // no answer leaves the search
  printPic(errors, "ab c", pic, true);
  EXPECT_EQ(pic.printed.size(), 5u);
}

TEST_F(MsgBoxLayoutTest, ErrorDialogButtonsFormARightAlignedRow) {
  const auto l = layout(ErrorHandler::errorText(13, "Bad value", "ReadSettings", "frmMDI", 0), "Copy,Abort,Retry,Ignore");
  ASSERT_TRUE(l.complete);
  EXPECT_EQ(l.rowWidth, 4100);
  EXPECT_GE(l.text.width, 4320);
  EXPECT_LE(pic.y, l.text.height);  // every line drawn is inside
  ASSERT_EQ(l.buttons.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(l.buttons[i].caption, splitButtonList("Copy,Abort,Retry,Ignore")[i]);
    EXPECT_EQ(l.buttons[i].top, l.rowTop);
    EXPECT_FALSE(l.buttons[i].isDefault || l.buttons[i].isCancel);
    EXPECT_EQ(l.buttons[i].left, l.innerWidth - 150 - 975 - (3 - i) * 1075.0);
  }
}

TEST_F(MsgBoxLayoutTest, SizesFollowTheText) {
  auto l = layout("Hello", "OK");  // one line plus a spare, the minimum width
  EXPECT_EQ((std::vector<double>{l.text.width, l.text.height, l.frame.width, l.frame.height, l.rowTop}),
            (std::vector<double>{4320, 390, 4820, 890, 990}));
  // 60 words: 10 lines at the design width grow the surface to 8458 wide, 4
  // lines there; the final 4320 takes 8, and the surface grows to hold them
  // rather than cut them off.
  std::string words = "word";
  for (int i = 1; i < 60; ++i) words += " word";
  l = layout(words, "OK");
  EXPECT_EQ(pic.printed.size(), 8u);
  EXPECT_EQ(l.text.height, 8 * 195 + 195);
  // The height allows for the title bar: 990 + 375 + 150 + (450 - 120 / 2).
  in.borderWidth = 120, in.borderHeight = 450;
  l = layout("Hello", "OK");
  EXPECT_EQ((std::vector<double>{l.window.width, l.window.height, l.innerHeight, l.buttons[0].left}),
            (std::vector<double>{4940, 1905, 1455, 4820 - 50 - 975 - 100}));
  EXPECT_EQ(l.window.left + l.window.width / 2, 9600);  // no owner: the screen's centre
  EXPECT_EQ(l.window.top + l.window.height / 2, 7200);
}

TEST_F(MsgBoxLayoutTest, CaptionsKeepTheirTextAndClaimTheirRoles) {
  EXPECT_EQ(layout("x", "Copy, Abort").buttons[1].caption, " Abort");
  auto l = layout("x", "Ok,cancel,OK,CANCEL,No");
  EXPECT_TRUE(l.buttons[2].isDefault && l.buttons[3].isCancel);  // the last one named wins
  EXPECT_FALSE(l.buttons[0].isDefault || l.buttons[1].isCancel || l.buttons[4].isDefault);
  l = layout("x", "OK,A caption 24 chars wide.");  // widens only its own button
  EXPECT_EQ((std::vector<double>{l.rowWidth, l.buttons[0].width, l.buttons[1].width}),
            (std::vector<double>{2050, 975, 2400}));
  l = layout("x", "");  // no buttons; the row still has button 0's height
  EXPECT_TRUE(l.buttons.empty());
  EXPECT_EQ(l.window.height, l.frame.height + 100 + 375 + 150);
  l = layout("Hello", "OK", true);
  EXPECT_TRUE(l.checkVisible && l.check.top == l.frame.height + 50);
  EXPECT_EQ(l.rowTop, l.frame.height + 50 + 375 + 50);
}

TEST_F(MsgBoxLayoutTest, CentresOnTheOwnerUnlessTheTopIsOffTheScreen) {
  for (const auto& [owner, onScreen] : {std::pair{TwipsRect{1000, 1000, 6000, 4000}, false},
                                        {{1000, -3000, 6000, 2000}, true},
                                        {{1000, 15000, 6000, 2000}, true},
                                        {{1000, 13000, 6000, 2000}, false},    // past the bottom
                                        {{-9000, 1000, 6000, 4000}, false}}) {  // the left edge is not checked
    in.owner = owner;
    const auto l = layout("Hello", "OK");
    EXPECT_EQ(l.window.left + l.window.width / 2, onScreen ? 9600 : owner.left + owner.width / 2) << owner.top;
    EXPECT_EQ(l.window.top + l.window.height / 2, onScreen ? 7200 : owner.top + owner.height / 2) << owner.top;
  }
}

}  // namespace
}  // namespace kelvane
