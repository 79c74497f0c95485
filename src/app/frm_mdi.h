#pragma once
// The main window. It owns the program's state (requested brightness, paths,
// the start-up flag, the device link) and its controls; the procedures are
// grouped by concern in startup.cpp, brightness.cpp, monitor.cpp,
// settings_io.cpp, presets.cpp and options.cpp.
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QGroupBox>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/vb_controls.h"
#include "device/device_link.h"
#include "panel/panel_engine.h"
#include "settings/ini_file.h"
#include "support/help_launcher.h"

namespace kelvane {

class Host;
class StatusLog;
class ErrorHandler;
class HidPlatform;

struct FrmMDIOptions {
  // The program's folder, with its trailing separator ("productid.txt" and
  // the help file live there).
  std::string programFolder;
  // The installed data folder, looked at for "productid.txt" when the
  // program's folder has none; empty for none.
  std::string dataFolder;
  // Dimmer nodes present but closed to this user (device_access.h); asked
  // only when the dimmer is not found, and only on the system's HID bus.
  std::function<std::vector<std::string>(std::uint16_t, std::uint16_t)> deniedDimmerNodes;
  // The bound of one report read.
  std::uint32_t readTimeoutMs = kReadTimeoutMs;
};

class FrmMDI : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kHeightClosed = 3540;
  static constexpr int kHeightOpen = 9255;
  static constexpr int kClientWidth = 6375;
  // lblStatus while no dimmer answers.
  static constexpr const char* kLostCaption = "Lost";

  FrmMDI(Host& host, StatusLog& log, ErrorHandler& errors, HidPlatform& platform,
         FrmMDIOptions options, QWidget* parent = nullptr);
  ~FrmMDI() override;

  // Start-up; false when the program must end without showing the window.
  bool formLoad();
  // Shutdown on close: settings, then ShutDown. Run once.
  void formUnload();
  void shutDown();
  // The session asks the program to end (a signal): as a close of the
  // window once it is up, as Abort before (the panel turned off if asked,
  // no settings written), and without returning into whatever dialog is
  // open. Later requests are ignored while the first one ends the program.
  void endOnRequest();
  // The display went away and the process is ending: turn the panel off if
  // asked, leaving last brightness 0, without touching the window or the
  // event queue.
  void endWithoutDisplay();

  // Brightness (Part of the main window's procedures).
  void updateBrightness();
  void txtBrightness_Change();
  void txtBrightness_LostFocus();
  void cmdDim2_Click();
  void cmdDim1_Click();
  void cmdBright1_Click();
  void cmdBright2_Click();

  void timerCheckPanel_Timer();

  // Settings and presets.
  void readSettings();
  // Posts the window's state to the settings file's writer thread.
  void writeSettings();
  // Reports the failures of posted writes (the writer asks for it).
  void pollSettings();
  // Writes what is posted now, as the program ends: a failure is logged,
  // not shown.
  void flushSettings() noexcept;
  int addItemInOrder(const QString& item, VbComboBox* box);
  void cmbPreset_Click(int index);
  void cmdSavePreset_Click();
  void cmdDeletePreset_Click(int index);

  // Window options.
  void chkKeeponTop_Click();
  void chkTurnOff_Click();
  void cmdHelp_Click();
  void formKeyUp(int keyCode, int shift);
  // Ctrl+N: the night view on or off for every window, remembered in the
  // settings file; nothing else changes and nothing is sent.
  void switchNightView();

  // State.
  std::int32_t brightness() const { return brightness_; }
  void setBrightness(std::int32_t b) { brightness_ = b; }
  bool loading() const { return loading_; }
  const std::string& appDataFolder() const { return appDataFolder_; }
  const std::string& iniFile() const { return iniFile_; }
  const std::string& helpPath() const { return help_.helpPath(); }
  HelpLauncher& helpLauncher() { return help_; }
  bool stayOnTop() const { return stayOnTop_; }
  DeviceLink& link() { return engine_.link(); }
  PanelEngine& engine() { return engine_; }
  int settingsWrites() const { return settingsWrites_; }
  SettingsFile& settingsFile() { return settings_; }

  // Controls, named as the program names them.
  std::array<QLabel*, 6> Label{};
  QLabel* lblStatus = nullptr;
  QPushButton* cmdDim2 = nullptr;
  QPushButton* cmdDim1 = nullptr;
  QLineEdit* txtBrightness = nullptr;
  QPushButton* cmdBright1 = nullptr;
  QPushButton* cmdBright2 = nullptr;
  QLineEdit* txtDuration = nullptr;
  QPushButton* cmdSavePreset = nullptr;
  VbCheckBox* chkKeeponTop = nullptr;
  VbCheckBox* chkTurnOff = nullptr;
  QPushButton* cmdHelp = nullptr;
  VbFrame* fraPreset = nullptr;
  std::array<VbComboBox*, 5> cmbPreset{};         // 1..4
  std::array<QPushButton*, 5> cmdDeletePreset{};  // 1..4
  QPlainTextEdit* txtStatus = nullptr;
  QTimer* TimerCheckPanel = nullptr;

  // Twips <-> pixels at the screen's resolution.
  int twipsToPixels(double twips) const;

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  void place(QWidget* w, int left, int top, int width, int height);
  void setWindowHeightTwips(int twips);
  void applyOuterHeight();
  void setWindowPos(bool topmost);
  std::string brightnessText() const;
  void setMonitorColours(bool moving);
  void showLinkLost();
  void stepBrightness(const char* location, std::int32_t step);
  // The settings file's keys in section "Initialization".
  std::string readKey(const std::string& key, const std::string& defaultValue);
  bool writeKeys(const IniEntries& entries, bool explainFailure = true);
  std::string presetKey() const;

  Host& host_;
  StatusLog& log_;
  ErrorHandler& errors_;
  FrmMDIOptions options_;
  PanelEngine engine_;
  HelpLauncher help_;
  SettingsFile settings_{host_, log_};

  std::int32_t brightness_ = 0;
  std::string appDataFolder_;
  std::string iniFile_;
  bool loading_ = false;
  bool unloaded_ = false;
  bool ending_ = false;
  bool started_ = false;
  bool endRequested_ = false;
  bool stayOnTop_ = false;
  int heightTwips_ = 0;
  int settingsWrites_ = 0;
  // What the monitor label last showed: 1 moving, 0 still, -1 nothing yet.
  int monitorShown_ = -1;
  double dpi_ = 96.0;
};

}  // namespace kelvane
