// The brightness chains: what a step or a typed text saves and sends.
#include <qpa/qwindowsysteminterface.h>

#include "app/main_window_fixture.h"
#include "device/protocol.h"

namespace kelvane::testkit {
namespace {

class BrightnessTest : public MainWindowTest {
 protected:
  // A started window showing `value`, with the counters cleared.
  FrmMDI& at(int value) {
    FrmMDI& w = started();
    w.setBrightness(value);
    w.updateBrightness();
    clearSent();
    baseWrites = w.settingsWrites();
    return w;
  }
  int writes() const { return window->settingsWrites() - baseWrites; }
  int baseWrites = 0;
};

TEST_F(BrightnessTest, AStepIsClampedByTheCommandRoutineAndSavesOnlyWhenTheBoxChanges) {
  // A step that changes the box saves once and sends twice (the change
  // handler's nested send, then the step's own); one at a limit sends once.
  struct Case { int from; void (FrmMDI::*step)(); int to, writes; std::vector<int> sends; } cases[] = {
      {500, &FrmMDI::cmdBright1_Click, 501, 1, {501, 501}}, {1023, &FrmMDI::cmdBright1_Click, 1023, 0, {1023}},
      {1000, &FrmMDI::cmdBright2_Click, 1023, 1, {1023, 1023}}, {30, &FrmMDI::cmdDim2_Click, 0, 1, {0, 0}},
      {100, &FrmMDI::cmdDim2_Click, 50, 1, {50, 50}}, {0, &FrmMDI::cmdDim1_Click, 0, 0, {0}}};
  for (const auto& c : cases) {
    FrmMDI& w = at(c.from);
    (w.*c.step)();
    EXPECT_EQ(w.txtBrightness->text().toInt(), c.to) << c.from;
    EXPECT_EQ(writes(), c.writes) << c.from;
    EXPECT_EQ(sentValues(), c.sends) << c.from;
    EXPECT_EQ(sent(cmd::ExecutePanelChange), static_cast<int>(c.sends.size())) << c.from;
    EXPECT_TRUE(w.TimerCheckPanel->isActive());
  }
}

TEST_F(BrightnessTest, EachTextReachingTheBoxIsAcceptedOrLeftForTheLeaveCheck) {
  // What the box shows and what is requested after a text is typed or
  // pasted; accepted texts are rewritten to their plain number at once.
  struct Case { const char* text; const char* shown; int brightness; } cases[] = {
      {"5x", "5", 5},          {"x", "0", 0},         {"-", "0", 0},        {"050", "50", 50},
      {"1023.", "1023", 1023}, {"1023.6", "1023", 1023}, {"12.5", "12", 12}, {"13.5", "14", 14},
      {"2000", "2000", 14},    {"-5", "-5", 14},      {"", "", 14},         {"   ", "   ", 14}};
  FrmMDI& w = at(100);
  for (const auto& c : cases) {
    w.txtBrightness->setText(c.text);
    EXPECT_EQ(w.txtBrightness->text().toStdString(), c.shown) << c.text;
    EXPECT_EQ(w.brightness(), c.brightness) << c.text;
  }
}

TEST_F(BrightnessTest, LeavingTheBoxChecksTheRange) {
  FrmMDI& w = at(100);
  for (const char* bad : {"2000", "-5", "", "   ", "1024", "-0.5"}) {
    w.txtBrightness->setText(bad);
    w.txtBrightness_LostFocus();
  }
  ASSERT_EQ(host.count("msgBox"), 6);
  const ShownBox& box = host.lastShown();
  EXPECT_EQ(std::tuple(box.title, box.text, box.buttons),
            std::tuple("Range error", "The Brightness value must be a number in the range of 0 to 1023", mb::OkOnly));
  EXPECT_TRUE(w.brightness() == 100 && sentValues().empty());

  // A valid value saves and sends again, though typing already sent it.
  w.txtBrightness->setText("300");
  clearSent();
  const int before = writes();
  w.txtBrightness_LostFocus();
  EXPECT_EQ(writes() - before, 1);
  EXPECT_EQ(sentValues(), (std::vector<int>{300}));
  EXPECT_EQ(host.count("msgBox"), 6);
}

// A press and its release queued together, as a tap, a remote desktop or an
// automation tool delivers them.
void tap(QWidget* target) {
  QWidget* top = target->window();
  ASSERT_NE(top->windowHandle(), nullptr) << "the window has no native window to tap";
  const QPointF centre(target->rect().center());
  for (const bool press : {true, false}) {
    QWindowSystemInterface::handleMouseEvent<QWindowSystemInterface::AsynchronousDelivery>(
        top->windowHandle(), target->mapTo(top, centre), target->mapToGlobal(centre),
        press ? Qt::LeftButton : Qt::NoButton, Qt::LeftButton,
        press ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease);
  }
  QCoreApplication::processEvents();
}

TEST_F(BrightnessTest, ATapRightAfterTypingLeavesTheBoxAndThenClicks) {
  struct Case { const char* name; QWidget* (*control)(FrmMDI&); int brightness, turnOff, helpTopic; };
  const Case cases[] = {
      {"++", [](FrmMDI& w) -> QWidget* { return w.cmdBright2; }, 350, 1, -1},
      {"-", [](FrmMDI& w) -> QWidget* { return w.cmdDim1; }, 299, 1, -1},
      {"help", [](FrmMDI& w) -> QWidget* { return w.cmdHelp; }, 300, 1, 2100},
      {"turn off", [](FrmMDI& w) -> QWidget* { return w.chkTurnOff; }, 300, 0, -1}};
  for (const auto& c : cases) {
    host.helpRequests.clear();
    FrmMDI& w = at(100);
    w.show();
    QApplication::setActiveWindow(&w);
    w.txtBrightness->setFocus();
    QApplication::processEvents();
    w.txtBrightness->setText("300");
    clearSent();
    const int before = writes();
    tap(c.control(w));
    const int topic = host.helpRequests.empty() ? -1 : host.helpRequests.back().second;
    EXPECT_EQ(std::tuple(w.brightness(), w.chkTurnOff->value(), topic), std::tuple(c.brightness, c.turnOff, c.helpTopic))
        << c.name;
    // The leave handler saved and sent before the click did anything.
    EXPECT_EQ(sentValues().at(0), 300) << c.name;
    EXPECT_GE(writes() - before, 1) << c.name;
    window.reset();
  }
}

TEST_F(BrightnessTest, F1OpensTheHelpAtTheMainWindowsTopic) {
  FrmMDI& w = at(100);
  w.show();
  QApplication::setActiveWindow(&w);
  QApplication::processEvents();
  for (const auto type : {QEvent::KeyPress, QEvent::KeyRelease})
    QWindowSystemInterface::handleKeyEvent<QWindowSystemInterface::SynchronousDelivery>(w.windowHandle(), type,
                                                                                        Qt::Key_F1, Qt::NoModifier);
  EXPECT_EQ(host.helpRequests, (std::vector<std::pair<std::string, int>>{{host.helpRequests.at(0).first, 2100}}));
}

TEST_F(BrightnessTest, DigitByDigitSendsEachAcceptedValue) {
  FrmMDI& w = at(100);
  w.txtBrightness->setText("");
  for (const char* t : {"2", "20", "200", "2000"}) w.txtBrightness->setText(t);
  EXPECT_EQ(std::tuple(w.brightness(), w.txtBrightness->text()), std::tuple(200, "2000"));
  // Each accepted text is already in its plain form: one save and one send.
  EXPECT_EQ(sentValues(), (std::vector<int>{2, 20, 200}));
}

TEST_F(BrightnessTest, WithoutADimmerTheSearchIsLoggedAndTheMonitorStillRuns) {
  FrmMDI& w = at(100);
  w.TimerCheckPanel->stop();
  w.link().deviceDetected = false;
  sim.unplug();
  log.setShowStatus(true);
  w.setBrightness(40);
  w.updateBrightness();
  const std::string text = log.logText();
  for (const char* line : {"Updating brightness to: 40", "Searching for panel", " Device not found."})
    EXPECT_NE(text.find(line), std::string::npos) << line;
  EXPECT_TRUE(sentValues().empty() && w.TimerCheckPanel->isActive());
}

}  // namespace
}  // namespace kelvane::testkit
