// Start-up and shutdown of the main window.
#include <QFile>

#include "app/main_window_fixture.h"
#include "device/protocol.h"

namespace kelvane::testkit {
namespace {

using StartupTest = MainWindowTest;

const char* const kNotFound =
    "Unable to detect the Lumetra Dimmer.  Please make sure it is plugged into power and a USB port on "
    "your computer, then restart the software.";

TEST_F(StartupTest, FindsTheDimmerShowsTheCaptionAndSendsTheStepChange) {
  FrmMDI& w = started();
  EXPECT_EQ(w.windowTitle(), "Lumetra Kelvane 1.0.3");
  EXPECT_EQ(w.windowHeightTwips(), FrmMDI::kHeightClosed);
  EXPECT_TRUE(w.link().deviceDetected);
  EXPECT_FALSE(w.loading());
  EXPECT_EQ(w.appDataFolder(), appData());
  EXPECT_EQ(w.iniFile(), appData() + "Kelvane.ini");
  EXPECT_EQ(w.helpPath(), programFolder() + "help/Kelvane.chm");
  EXPECT_TRUE(QFileInfo(QString::fromStdString(appData())).isDir());
  // The restored brightness goes out while the settings load, before the
  // step change; nothing is saved during start-up.
  const auto& r = sim.received();
  ASSERT_GE(r.size(), 3u);
  EXPECT_EQ(r[0][1], cmd::SetPanelValue);
  EXPECT_EQ(sent(cmd::SetStepChange), 1);
  const auto step = std::find_if(r.begin(), r.end(), [](const auto& v) { return v[1] == cmd::SetStepChange; });
  // Byte 3 still holds the high byte of the brightness sent before (100 -> 0).
  EXPECT_EQ(*step, (std::vector<std::uint8_t>{0, 0x30, 1, 0, 0, 0, 0, 0, 0}));
  // Only the closing preset lookup, after loading ended, saves.
  EXPECT_EQ(w.settingsWrites(), 1);
  EXPECT_EQ(host.count("msgBox"), 0);
}

TEST_F(StartupTest, ProductIdFileDecidesWhichDeviceIsTheDimmer) {
  struct Case { const char* content; bool found; } cases[] = {
      {nullptr, true}, {"", true}, {"-2607", true}, {"  -2607.4 trailing", true},
      {"\r\n", false}, {"62929", false}, {"abc", false}, {"1", false}};
  for (const auto& c : cases) {
    QFile::remove(QString::fromStdString(programFolder() + "productid.txt"));
    if (c.content) writeProgramFile("productid.txt", c.content);
    host.shown.clear();
    host.endProgramCalls = 0;
    sim.received().clear();
    FrmMDI& w = create();
    EXPECT_EQ(w.formLoad(), c.found) << (c.content ? c.content : "(no file)");
    EXPECT_EQ(host.endProgramCalls, c.found ? 0 : 1);
    if (!c.found) {
      ASSERT_EQ(host.count("msgBox"), 1);
      EXPECT_EQ(host.shown.back().text, kNotFound);
    }
    window.reset();
  }
}

TEST_F(StartupTest, NoDimmerEndsBeforeTheWindowWithNothingWritten) {
  sim.unplug();
  FrmMDI& w = create();
  EXPECT_FALSE(w.formLoad());
  EXPECT_EQ(host.endProgramCalls, 1);
  EXPECT_EQ(host.shown.back().text, kNotFound);
  EXPECT_EQ(host.shown.back().buttons, mb::OkOnly);
  EXPECT_FALSE(QFile::exists(QString::fromStdString(iniPath())));
  EXPECT_EQ(w.settingsWrites(), 0);
  EXPECT_EQ(sim.reportsReceived(), 0);
  // Closing afterwards does nothing more.
  w.formUnload();
  EXPECT_EQ(w.settingsWrites(), 0);
}

TEST_F(StartupTest, CloseWithTurnOffSendsZeroAndClosesBothHandles) {
  FrmMDI& w = started();
  ASSERT_EQ(w.chkTurnOff->value(), 1);
  w.setBrightness(300);
  w.updateBrightness();
  clearSent();
  const int writesBefore = w.settingsWrites();
  w.formUnload();
  EXPECT_EQ(w.brightness(), 0);
  EXPECT_EQ(w.txtBrightness->text(), "0");
  // The value in use is saved, then 0 is saved and sent twice.
  EXPECT_EQ(w.settingsWrites() - writesBefore, 2);
  EXPECT_EQ(sentValues(), (std::vector<int>{300, 0, 0}));
  EXPECT_FALSE(w.link().hidHandleOpen());
  EXPECT_FALSE(w.link().readHandleOpen());
  EXPECT_EQ(sim.openHandleCount(), 0);
}

TEST_F(StartupTest, CloseWithoutTurnOffLeavesThePanelAlone) {
  FrmMDI& w = started();
  w.chkTurnOff->setValue(0);
  clearSent();
  w.formUnload();
  EXPECT_EQ(sentValues(), (std::vector<int>{100}));  // WriteSettings re-sends the value in use
  EXPECT_EQ(sim.openHandleCount(), 0);
}

TEST_F(StartupTest, AFailureLeavesStartUpAndOnlyAbortKeepsTheWindowFromAppearing) {
  std::ofstream(appData().substr(0, appData().size() - 1)) << "a file where the folder belongs";
  for (const auto& [answer, shown] : {std::pair{"", true}, {"Abort", false}}) {
    host.msgBox2Answers = {answer};  // "": the dialog closed from its title bar
    FrmMDI& w = create();
    EXPECT_EQ(w.formLoad(), shown) << answer;
    EXPECT_EQ(host.shown.back().title, "Error 75 in Form_Load");
    EXPECT_EQ(host.endProgramCalls, shown ? 0 : 1);
    window.reset();
  }
}

class AbortTest : public MainWindowTest, public ::testing::WithParamInterface<int> {};

TEST_P(AbortTest, RunsShutDownAndEndsWithoutWritingSettings) {
  const int turnOff = GetParam();
  FrmMDI& w = started();
  w.chkTurnOff->setValue(turnOff);
  w.setBrightness(300);
  w.updateBrightness();
  clearSent();
  const int writes = w.settingsWrites();
  host.msgBox2Answers = {"Abort"};
  Trap trap(errors, "frmMDI", "cmdHelp_Click");
  trap([] { throw RuntimeError(rt::InvalidProcedureCall); });
  EXPECT_EQ(host.endProgramCalls, 1);
  EXPECT_EQ(sentValues(), turnOff ? std::vector<int>{0} : std::vector<int>{});
  EXPECT_EQ(w.settingsWrites(), writes);
  EXPECT_EQ(sim.openHandleCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(TurnOff, AbortTest, ::testing::Values(1, 0));

}  // namespace
}  // namespace kelvane::testkit
