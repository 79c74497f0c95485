// The panel monitor's decisions on the dimmer's answers.
#include "app/main_window_fixture.h"
#include "device/protocol.h"

namespace kelvane::testkit {
namespace {

class MonitorTest : public MainWindowTest {
 protected:
  FrmMDI& restingAt(int panel, const char* requested) {
    FrmMDI& w = started();
    sim.dimmer().setPanelValue(panel);
    w.txtBrightness->blockSignals(true);
    w.txtBrightness->setText(requested);
    w.txtBrightness->blockSignals(false);
    w.TimerCheckPanel->start();
    clearSent();
    return w;
  }
  bool red() const { return window->lblStatus->palette().color(QPalette::Window) == QColor(255, 0, 0); }
  bool green() const { return window->lblStatus->palette().color(QPalette::WindowText) == QColor(0, 255, 0); }
};

TEST_F(MonitorTest, AtRestTheMonitorStopsOnTheRequestedValueAndSendsAgainElsewhere) {
  for (const char* requested : {"300", "301"}) {
    const bool elsewhere = std::string(requested) == "301";
    FrmMDI& w = restingAt(300, requested);
    log.setShowStatus(true);
    w.setBrightness(atoi(requested));
    w.timerCheckPanel_Timer();
    EXPECT_EQ(std::tuple(w.TimerCheckPanel->isActive(), red(), green()), std::tuple(elsewhere, elsewhere, !elsewhere));
    EXPECT_EQ(w.lblStatus->text(), "300");
    EXPECT_EQ(sent(cmd::ReadMotion), 1);
    EXPECT_EQ(sentValues(), elsewhere ? std::vector<int>{301} : std::vector<int>{});
    EXPECT_EQ(log.logText().find("Panel stopped moving, but does not match current setting.  Moving to new position") !=
                  std::string::npos, elsewhere);
    window.reset();
  }
}

TEST_F(MonitorTest, WhileMovingNoComparisonIsMade) {
  FrmMDI& w = restingAt(0, "500");
  w.setBrightness(500);
  w.updateBrightness();  // the panel starts to travel
  clearSent();
  sim.advanceVirtualTime(100'000);
  w.timerCheckPanel_Timer();
  EXPECT_TRUE(red() && w.TimerCheckPanel->isActive() && sentValues().empty());
  const int shown = w.lblStatus->text().toInt();
  EXPECT_TRUE(shown > 0 && shown < 500) << shown;
  // Later the panel arrives and the monitor stops on the first still tick.
  sim.advanceVirtualTime(5'000'000);
  w.timerCheckPanel_Timer();
  EXPECT_EQ(w.lblStatus->text(), "500");
  EXPECT_FALSE(w.TimerCheckPanel->isActive());
}

TEST_F(MonitorTest, ALostDimmerShowsAsLostAndIsFoundAgainWithoutAClick) {
  FrmMDI& w = started();
  w.setBrightness(300);
  w.updateBrightness();
  sim.unplug();
  w.timerCheckPanel_Timer();  // the read runs out its bound: no reading
  EXPECT_EQ(w.lblStatus->text(), FrmMDI::kLostCaption);
  EXPECT_TRUE(w.TimerCheckPanel->isActive() && !red() && !green());
  sim.replug();
  clearSent();
  for (int k = 0; k < 3 && sentValues().empty(); ++k) {
    w.engine().settle();  // idle between ticks
    w.timerCheckPanel_Timer();
  }
  EXPECT_EQ(sentValues(), std::vector<int>{300});
  sim.advanceVirtualTime(5'000'000);
  w.engine().settle();
  w.timerCheckPanel_Timer();
  EXPECT_EQ(w.lblStatus->text(), "300");
  EXPECT_TRUE(green() && !w.TimerCheckPanel->isActive());
}

TEST_F(MonitorTest, ShortAnswersGoToTheTrapAndIgnoreStillShowsZero) {
  // 3 bytes: no byte 3 for the value; 1 byte: no value read, no motion byte.
  for (std::uint16_t length : {3, 1}) {
    FrmMDI& w = restingAt(300, "300");
    w.link().deviceCaps.inputReportByteLength = length;
    host.shown.clear();
    host.msgBox2Answers = {"Ignore", "Ignore"};
    w.timerCheckPanel_Timer();
    ASSERT_EQ(host.count("msgBox2"), 1) << length;
    EXPECT_EQ(host.shown[0].title, "Error 9 in TimerCheckPanel_Timer");
    EXPECT_EQ(w.lblStatus->text(), "0");
    window.reset();
  }
}

TEST_F(MonitorTest, AClickDuringTheTicksPassOfTheQueueStillWorks) {
  FrmMDI& w = restingAt(300, "300");
  w.setBrightness(300);
  bool clicked = false;
  host.onDoEvents = [&] {
    if (clicked) return;
    clicked = true;
    w.cmdBright1->click();
  };
  w.timerCheckPanel_Timer();
  EXPECT_TRUE(clicked && w.brightness() == 301);
  EXPECT_EQ(w.txtBrightness->text(), "301");
  // The click's sends went out between the tick's two reads, and the tick
  // then found the panel still but not at 301: it stays on.
  EXPECT_TRUE(sentValues().at(0) == 301 && w.TimerCheckPanel->isActive());
}

TEST_F(MonitorTest, NoTickRunsWhileAnErrorDialogIsOpen) {
  FrmMDI& w = restingAt(300, "300");
  int ticksDuringDialog = 0;
  host.onShow = [&](const ShownBox&) {
    const int before = sim.reportsReceived();
    w.timerCheckPanel_Timer();
    ticksDuringDialog += sim.reportsReceived() - before;
  };
  host.msgBox2Answers = {"Ignore"};
  Trap trap(errors, "frmMDI", "cmdHelp_Click");
  trap([] { throw RuntimeError(rt::InvalidProcedureCall); });
  EXPECT_EQ(ticksDuringDialog, 0);
}

}  // namespace
}  // namespace kelvane::testkit
