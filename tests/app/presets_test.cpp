// The settings file as the main window reads and writes it, the preset
// selectors with their add prompt, and saving and deleting presets.
#include <QFile>
#include <chrono>
#include <thread>

#include "app/alpaca_start.h"
#include "app/main_window_fixture.h"
#include "device/protocol.h"
#include "settings/ini_store.h"

namespace kelvane::testkit {
namespace {

class PresetsTest : public MainWindowTest {
 protected:
  void writeIni(const std::string& content) {
    QDir().mkpath(QString::fromStdString(appData()));
    std::ofstream(iniPath(), std::ios::binary) << content;
  }
  // The file as the window's posted writes leave it.
  std::string ini(const std::string& key) const {
    if (window) window->flushSettings();
    return IniStore(iniPath()).read("Initialization", key);
  }
  std::string iniBytes() const {
    if (window) window->flushSettings();
    std::ifstream in(iniPath(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  QStringList entries(int n) const {
    QStringList list;
    for (int i = 0; i < window->cmbPreset[n]->count(); ++i) list << window->cmbPreset[n]->itemText(i);
    return list;
  }
  // The user picks entry `text` of selector n.
  void choose(int n, const QString& text) {
    VbComboBox* box = window->cmbPreset[n];
    const int i = box->findText(text);
    ASSERT_GE(i, 0) << text.toStdString();
    box->setCurrentIndex(i);
    emit box->activated(i);
  }
};

TEST_F(PresetsTest, AFirstStartShowsTheDefaultsAndCreatesTheFile) {
  FrmMDI& w = started();
  for (int n = 1; n <= 4; ++n) {
    EXPECT_EQ(w.cmbPreset[n]->listIndex(), 0);
    EXPECT_EQ(w.cmbPreset[n]->selectedText(), "Default");
  }
  EXPECT_EQ(entries(1), QStringList({"Default", "** Add Telescope **"}));
  EXPECT_EQ(entries(3), QStringList({"Default", "** Add Binning Level **"}));
  EXPECT_EQ(w.txtBrightness->text(), "100");
  EXPECT_EQ(w.chkKeeponTop->value(), 0);
  EXPECT_EQ(w.chkTurnOff->value(), 1);
  EXPECT_EQ(ini("LastBrightness"), "100");
  EXPECT_EQ(ini("TurnOff"), "1");
  EXPECT_EQ(ini("PresetList4"), "Default");
  EXPECT_EQ(ini("PresetIndex4"), "0");
}

TEST_F(PresetsTest, StoredListsLoadSortedWithoutCaseDuplicates) {
  writeIni("[Initialization]\r\nPresetList1=zeta\tAlpha\tALPHA\r\nPresetList2=\r\nPresetIndex1=1\r\n"
           "LastBrightness=0300\r\nKeepInFront=1\r\nTurnOff=0\r\n");
  FrmMDI& w = started();
  EXPECT_EQ(entries(1), QStringList({"Alpha", "zeta", "** Add Telescope **"}));
  EXPECT_EQ(w.cmbPreset[1]->selectedText(), "zeta");
  EXPECT_EQ(entries(2), QStringList({"Default", "** Add Camera **"}));
  EXPECT_EQ(w.txtBrightness->text(), "300");
  EXPECT_EQ(w.brightness(), 300);
  EXPECT_TRUE(w.stayOnTop());
  EXPECT_EQ(w.chkTurnOff->value(), 0);
  EXPECT_EQ(ini("PresetList1"), "Alpha\tzeta");
  EXPECT_EQ(ini("PresetIndex1"), "1");
}

// A bad stored value is reported while nothing is written; Ignore leaves the
// setting as it was, Retry reads the key again (the user may have fixed it).
TEST_F(PresetsTest, ABadStoredValueIsReportedAndRetryReadsItAgain) {
  const std::tuple<std::string, std::string, std::string, int> cases[] = {  // stored, answer, title, result
      {"PresetIndex1=abc", "Ignore", "Error 13 in ReadSettings", -1},
      {"PresetIndex1=abc", "Retry", "Error 13 in ReadSettings", 1},
      {"KeepInFront=7", "Retry", "Error 380 in ReadSettings", 1}};
  for (const auto& [bad, answer, title, result] : cases) {
    const std::string original = "[Initialization]\r\nPresetList1=A\tB\r\nOther=kept\r\n" + bad + "\r\n";
    const std::string fixed = "[Initialization]\r\nPresetList1=A\tB\r\n" + bad.substr(0, bad.find('=') + 1) + "1\r\n";
    window.reset();  // the last window's posted keys written first
    writeIni(original);
    std::string duringLoad;
    host.shown.clear();
    host.onShow = [&, fixed](const ShownBox&) { duringLoad = iniBytes(), writeIni(fixed); };
    host.msgBox2Answers = {answer};
    FrmMDI& w = started();
    ASSERT_EQ(host.count("msgBox2"), 1) << bad;
    EXPECT_EQ(host.shown[0].title, title);
    EXPECT_EQ(duringLoad, original);
    EXPECT_EQ(w.chkKeeponTop->value() + w.cmbPreset[1]->listIndex(), result) << bad << answer;
  }
}

TEST_F(PresetsTest, ChoosingAnEntryAppliesItsPreset) {
  writeIni("[Initialization]\r\nPresetList1=Newt\tRefractor\r\n"
           "Refractor|Default|Default|Default|=300\r\nRefractor|Default|Default|Default|Duration=5\r\n");
  FrmMDI& w = started();
  clearSent();
  choose(1, "Refractor");
  EXPECT_EQ(w.txtBrightness->text(), "300");
  EXPECT_EQ(w.txtDuration->text(), "5");
  EXPECT_EQ(w.brightness(), 300);
  EXPECT_EQ(sentValues().front(), 300);
  EXPECT_EQ(ini("PresetIndex1"), "1");

  // No preset for the new choice: brightness stays, duration empties.
  clearSent();
  choose(1, "Newt");
  EXPECT_EQ(w.txtBrightness->text(), "300");
  EXPECT_EQ(w.txtDuration->text(), "");
}

TEST_F(PresetsTest, TheAddPromptInsertsInOrderAndSelectsTheName) {
  writeIni("[Initialization]\r\nPresetList1=Alpha\tGamma\r\n");
  FrmMDI& w = started();
  host.inputAnswers = {"beta"};
  choose(1, "** Add Telescope **");
  EXPECT_EQ(entries(1), QStringList({"Alpha", "beta", "Gamma", "** Add Telescope **"}));
  EXPECT_EQ(w.cmbPreset[1]->selectedText(), "beta");
  EXPECT_EQ(host.count("inputBox"), 1);  // the insertion itself opened no second prompt
  EXPECT_EQ(host.lastShown().text, "Add Item to List");
  EXPECT_EQ(ini("PresetList1"), "Alpha\tbeta\tGamma");
  EXPECT_EQ(ini("PresetIndex1"), "1");

  host.inputAnswers = {"ALPHA"};
  choose(1, "** Add Telescope **");
  EXPECT_EQ(entries(1).size(), 4);
  EXPECT_EQ(w.cmbPreset[1]->selectedText(), "Alpha");

  host.inputAnswers = {"zz top"};
  choose(1, "** Add Telescope **");
  EXPECT_EQ(entries(1).last(), "** Add Telescope **");
  EXPECT_EQ(entries(1)[3], "zz top");
  EXPECT_EQ(w.cmbPreset[1]->selectedText(), "zz top");
}

TEST_F(PresetsTest, CancellingTheAddPromptReturnsToTheSavedChoice) {
  writeIni("[Initialization]\r\nPresetList2=Mono\tOSC\r\nPresetIndex2=1\r\n"
           "Default|OSC|Default|Default|=420\r\n");
  FrmMDI& w = started();
  w.setBrightness(10);
  w.updateBrightness();
  clearSent();
  host.inputAnswers = {""};
  choose(2, "** Add Camera **");
  EXPECT_EQ(w.cmbPreset[2]->selectedText(), "OSC");
  EXPECT_EQ(w.txtBrightness->text(), "420");
  EXPECT_EQ(sentValues().front(), 420);
}

TEST_F(PresetsTest, NamesTheFileCannotCarryAreRefused) {
  FrmMDI& w = started();
  for (const char* bad : {"Red|Blue", "a=b", "tab\there", "[x]"}) {
    host.inputAnswers = {bad};
    choose(4, "** Add Filter **");
    EXPECT_EQ(entries(4), QStringList({"Default", "** Add Filter **"})) << bad;
    EXPECT_EQ(w.cmbPreset[4]->selectedText(), "Default");
    EXPECT_EQ(host.lastShown().kind, "msgBox");
    EXPECT_EQ(host.lastShown().title, "Add Item to List");
  }
  host.inputAnswers = {"  Ha  "};
  choose(4, "** Add Filter **");
  EXPECT_EQ(w.cmbPreset[4]->selectedText(), "Ha");
}

TEST_F(PresetsTest, SavePresetStoresBothKeysOnlyOnYes) {
  FrmMDI& w = started();
  w.txtBrightness->setText("250");
  w.txtDuration->setText("12");
  host.msgBoxAnswers = {mb::No};
  const std::string before = iniBytes();
  w.cmdSavePreset->click();
  EXPECT_EQ(iniBytes(), before);
  EXPECT_EQ(host.lastShown().title, "Confirm Preset");
  EXPECT_EQ(host.lastShown().text,
            "Confirm setting\r\n\r\nDefault\r\nDefault\r\nDefault\r\nDefault\r\n\r\nto value 250");

  host.msgBoxAnswers = {mb::Yes};
  w.cmdSavePreset->click();
  EXPECT_EQ(ini("Default|Default|Default|Default|"), "250");
  EXPECT_EQ(ini("Default|Default|Default|Default|Duration"), "12");
}

// One message per cause and run, however many clicks; a preset asked to be
// saved says every time that it was not.
TEST_F(PresetsTest, ASettingsFileThatCannotBeUsedCostsOneMessagePerCause) {
  QDir().mkpath(QString::fromStdString(iniPath()));  // a folder where the file should be
  FrmMDI& w = started();
  startWindowServer(w, errors, {});  // reads AlpacaPort from the same file
  for (int i = 0; i < 3; ++i) w.cmdBright1->click();
  w.settingsFile().flush();  // the writer thread at rest
  QDir(QString::fromStdString(appData())).removeRecursively();  // then no folder at all
  w.cmdBright1->click();
  // The writer thread's failure is told on the window's thread unasked.
  for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
       host.shown.size() < 2 && std::chrono::steady_clock::now() < end;
       std::this_thread::sleep_for(std::chrono::milliseconds(10)))
    QCoreApplication::processEvents();
  ASSERT_EQ(host.shown.size(), 2u);
  for (int i = 0; i < 2; ++i) w.cmdBright1->click();
  w.settingsFile().flush();
  ASSERT_EQ(host.shown.size(), 2u);
  EXPECT_EQ(w.txtBrightness->text(), "106");
  const char* why[] = {"A folder of that name stands where the file should be.", "Its folder does not exist."};
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(host.shown[i].title, "Settings File");
    EXPECT_NE(host.shown[i].text.find(iniPath() + "\r\n\r\n" + why[i]), std::string::npos) << host.shown[i].text;
  }
  host.msgBoxAnswers = {mb::Yes};
  w.cmdSavePreset->click();
  EXPECT_EQ(host.lastShown().text.rfind("The preset was not saved.\r\n\r\nKelvane cannot use its settings", 0), 0u);
}

TEST_F(PresetsTest, DeleteAsksRemovesAndSelectsTheFirstName) {
  writeIni("[Initialization]\r\nPresetList3=A\tB\r\nPresetIndex3=1\r\n");
  FrmMDI& w = started();
  host.msgBoxAnswers = {mb::No};
  const int writes = w.settingsWrites();
  w.cmdDeletePreset[3]->click();
  EXPECT_EQ(host.lastShown().text, "Are you sure you want to delete B?");
  EXPECT_EQ(host.lastShown().buttons, mb::YesNo);
  EXPECT_EQ(entries(3).size(), 3);
  EXPECT_EQ(w.settingsWrites() - writes, 1);  // saved whatever the answer

  host.msgBoxAnswers = {mb::Yes};
  w.cmdDeletePreset[3]->click();
  EXPECT_EQ(entries(3), QStringList({"A", "** Add Binning Level **"}));
  EXPECT_EQ(w.cmbPreset[3]->selectedText(), "A");
  EXPECT_EQ(ini("PresetList3"), "A");
  EXPECT_EQ(ini("PresetIndex3"), "0");

  w.cmdDeletePreset[3]->click();
  EXPECT_EQ(host.lastShown().text, "You must have at least one entry in the list");
  EXPECT_EQ(host.lastShown().title, "Must have 1 entry");
  EXPECT_EQ(entries(3).size(), 2);
}

TEST_F(PresetsTest, DeleteWithNothingSelectedIsRefused) {
  writeIni("[Initialization]\r\nPresetList1=A\tB\r\nPresetIndex1=-1\r\n");
  FrmMDI& w = started();
  ASSERT_EQ(w.cmbPreset[1]->listIndex(), -1);
  w.cmdDeletePreset[1]->click();
  EXPECT_EQ(entries(1).size(), 3);
  EXPECT_EQ(host.count("msgBox2"), 0);
}

}  // namespace
}  // namespace kelvane::testkit
