// Start-up and shutdown of the main window.
#include <QDeadlineTimer>
#include <QFile>

#include "app/main_window_fixture.h"
#include "device/device_access.h"
#include "device/protocol.h"
#include "settings/ini_store.h"

namespace kelvane::testkit {
namespace {

using StartupTest = MainWindowTest;

const char* const kNotFound =
    "Unable to detect the Lumetra Dimmer.  Please make sure it is plugged into power and a USB port on "
    "your computer, then restart the software.";

TEST_F(StartupTest, FindsTheDimmerShowsTheCaptionAndSendsTheStepChange) {
  FrmMDI& w = started();
  EXPECT_EQ(w.windowTitle(), "Lumetra Kelvane 1.0.3");
  EXPECT_TRUE(w.link().deviceDetected && !w.loading());
  EXPECT_EQ((std::vector{w.appDataFolder(), w.iniFile(), w.helpPath()}),
            (std::vector{appData(), appData() + "Kelvane.ini", programFolder() + "help/Kelvane.chm"}));
  EXPECT_TRUE(QFileInfo(QString::fromStdString(appData())).isDir());
  // The restored brightness goes out while the settings load, before the
  // step change; nothing is saved during start-up.
  const auto& r = sim.received();
  EXPECT_EQ(r.at(0)[1], cmd::SetPanelValue);
  EXPECT_EQ(sent(cmd::SetStepChange), 1);
  const auto step = std::find_if(r.begin(), r.end(), [](const auto& v) { return v[1] == cmd::SetStepChange; });
  // Byte 3 still holds the high byte of the brightness sent before (100 -> 0).
  EXPECT_EQ(*step, (std::vector<std::uint8_t>{0, 0x30, 1, 0, 0, 0, 0, 0, 0}));
  // Only the closing preset lookup, after loading ended, saves.
  EXPECT_TRUE(w.settingsWrites() == 1 && host.shown.empty());
}

TEST_F(StartupTest, ProductIdFileDecidesWhichDeviceIsTheDimmerAndNoDimmerEndsBeforeTheWindow) {
  struct Case { const char* content; bool found; } cases[] = {  // no dimmer first: no settings yet
      {"\r\n", false}, {"62929", false}, {"abc", false}, {"1", false},
      {nullptr, true}, {"", true}, {"-2607", true}, {"  -2607.4 trailing", true}};
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
      EXPECT_EQ(host.lastShown().text, kNotFound);
      EXPECT_EQ(host.lastShown().buttons, mb::OkOnly);
      // Nothing written or sent, and closing afterwards does nothing more.
      EXPECT_FALSE(QFile::exists(QString::fromStdString(iniPath())));
      EXPECT_TRUE(sim.received().empty());
      w.formUnload();
      EXPECT_EQ(w.settingsWrites(), 0);
    }
    window.reset();
  }
  // An installed program reads the data folder's file unless one lies beside it.
  QTemporaryDir data;
  std::ofstream((options.dataFolder = data.path().toStdString()) + "/productid.txt") << "1";
  writeProgramFile("productid.txt", "-2607");
  EXPECT_TRUE(create().formLoad());
  QFile::remove(QString::fromStdString(programFolder() + "productid.txt"));
  EXPECT_FALSE(create().formLoad());
}

TEST_F(StartupTest, CloseSendsZeroOnlyWithTurnOffAndClosesBothHandles) {
  for (const int turnOff : {1, 0}) {
    FrmMDI& w = started();
    w.chkTurnOff->setValue(turnOff);
    w.setBrightness(300);
    w.updateBrightness();
    clearSent();
    const int writesBefore = w.settingsWrites();
    w.formUnload();
    EXPECT_EQ(w.txtBrightness->text(), turnOff ? "0" : "300");
    // The value in use is saved and sent again; turning off saves and sends 0 twice.
    EXPECT_EQ(w.settingsWrites() - writesBefore, turnOff ? 2 : 1);
    EXPECT_EQ(IniStore(iniPath()).read("Initialization", "LastBrightness"), turnOff ? "0" : "300");
    EXPECT_EQ(sentValues(), (turnOff ? std::vector<int>{300, 0, 0} : std::vector<int>{300}));
    EXPECT_FALSE(w.link().hidHandleOpen() || w.link().readHandleOpen());
    EXPECT_EQ(sim.openHandleCount(), 0);
    window.reset();
  }
  // The save at close meets a silent dimmer: the turn-off still goes out.
  FrmMDI& w = started();
  w.chkTurnOff->setValue(1);
  w.setBrightness(300);
  w.updateBrightness();
  sim.faults().silent = true;
  clearSent();
  w.formUnload();
  EXPECT_EQ(sentValues(), (std::vector<int>{300, 0}));
}

TEST_F(StartupTest, ADimmerHeldElsewhereOrSilentIsNamedAsSuch) {
  sim.faults().heldElsewhere = true;
  EXPECT_FALSE(create().formLoad());
  EXPECT_NE(host.lastShown().text.find("in use by another program"), std::string::npos);
  EXPECT_EQ(sim.reportsReceived(), 0);
  window.reset();
  // A silent dimmer costs one read bound, is named, and the window appears.
  sim.faults().heldElsewhere = false;
  sim.faults().silent = true;
  const auto before = sim.now();
  EXPECT_TRUE(create().formLoad());
  EXPECT_LT(sim.now() - before, 2 * 50'000u);
  EXPECT_NE(host.lastShown().text.find("found but does not answer"), std::string::npos);
}

TEST_F(StartupTest, ADimmerClosedToThisUserIsNamedBeforeTheNotice) {
  sim.unplug();
  std::vector<std::pair<int, int>> asked;
  options.deniedDimmerNodes = [&](std::uint16_t vendor, std::uint16_t product) {
    asked.emplace_back(vendor, product);
    return std::vector<std::string>{"/dev/hidraw7"};
  };
  EXPECT_FALSE(create().formLoad());
  EXPECT_EQ(asked, (std::vector<std::pair<int, int>>{{0x04D8, 0xF5D1}}));
  ASSERT_EQ(host.count("msgBox"), 2);
  EXPECT_EQ(host.shown[0].text, deniedDimmerMessage({"/dev/hidraw7"}));
  EXPECT_EQ(host.shown[1].text, kNotFound);
}

TEST_F(StartupTest, AFileWhereTheSettingsFolderBelongsIsExplainedOnceAndTheWindowAppears) {
  std::ofstream(appData().substr(0, appData().size() - 1)) << "a file where the folder belongs";
  FrmMDI& w = create();
  EXPECT_TRUE(w.formLoad());
  w.cmdBright1->click();
  // The click's write may fail on the writer's thread, explained when it reports.
  for (QDeadlineTimer bound(5000); host.shown.empty() && !bound.hasExpired();)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  w.flushSettings();
  QCoreApplication::processEvents();
  ASSERT_EQ(host.shown.size(), 1u);
  EXPECT_EQ(host.lastShown().title, "Settings File");
  EXPECT_NE(host.shown[0].text.find("stands where one of its folders should be"), std::string::npos);
}

class AbortTest : public MainWindowTest, public ::testing::WithParamInterface<int> {};

// What a click posted reaches the file all the same, also when its rewrite
// (of a large file here) takes a while.
TEST_P(AbortTest, RunsShutDownAndEndsWritingOnlyWhatWasPosted) {
  const int turnOff = GetParam();
  QDir().mkpath(QString::fromStdString(appData()));
  std::ofstream ini(iniPath(), std::ios::binary);
  for (int i = 0; i < 200000; ++i) ini << "Scope" << i << "|Mono|2x2|Red|=250\r\n";
  ini.close();
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
  EXPECT_EQ(IniStore(iniPath()).read("Initialization", "LastBrightness"), "300");
}

INSTANTIATE_TEST_SUITE_P(TurnOff, AbortTest, ::testing::Values(1, 0));

}  // namespace
}  // namespace kelvane::testkit
