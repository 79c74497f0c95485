// Start-up and shutdown of the main window.
#include <QPlainTextEdit>

#include "app/frm_mdi.h"
#include "device/device_access.h"
#include "settings/presets.h"
#include "support/error_handler.h"
#include "support/file_helpers.h"
#include "support/host.h"
#include "support/number_text.h"
#include "support/runtime_error.h"
#include "support/status_log.h"

namespace kelvane {

namespace {
constexpr const char* kModule = "frmMDI";

std::string withoutTrailingSeparator(std::string folder) {
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  return folder;
}
}  // namespace

bool FrmMDI::formLoad() {
  Trap trap(errors_, kModule, "Form_Load");
  // Any answer but Abort leaves Form_Load, as it leaves every procedure, and
  // the window then appears as it does after the whole sequence; Abort has
  // already ended the program.
  // From then on the program ends as a close of the window does.
  const auto showWindow = [this] { return started_ = !errors_.ended(); };
  std::string productText;
  bool productFile = false;

  if (!trap([&] { engine_.link().dimmerVendorId = kDefaultVendorId; })) return showWindow();
  if (!trap([&] {
        // The program's folder followed by "/productid.txt".
        std::string path = withoutTrailingSeparator(options_.programFolder) + "/productid.txt";
        productFile = fileExists(path);
        if (!productFile && !options_.dataFolder.empty()) {
          path = withoutTrailingSeparator(options_.dataFolder) + "/productid.txt";
          productFile = fileExists(path);
        }
        if (productFile) productText = readFiletoString(errors_, path);
      }))
    return showWindow();
  if (!trap([&] {
        engine_.link().dimmerProductId = kDefaultProductId;
        if (!productText.empty()) engine_.link().dimmerProductId = toWholeNumber(valueOfText(productText));
      }))
    return showWindow();
  if (!trap([&] { txtStatus->clear(); })) return showWindow();
  if (!trap([&] { setWindowHeightTwips(kHeightClosed); })) return showWindow();
  if (!trap([&] { loading_ = true; })) return showWindow();
  if (!trap([&] { brightness_ = 500; })) return showWindow();
  std::string notice;
  if (!trap([&] { appDataFolder_ = settingsFolder(notice); })) return showWindow();
  if (!trap([&] {
        iniFile_ = appDataFolder_ + "Kelvane.ini";
        settings_.setPath(iniFile_);
      }))
    return showWindow();
  if (!notice.empty() && !trap([&] { host_.msgBox(notice, mb::OkOnly, kSettingsProblemTitle); })) return showWindow();
  if (!trap([&] {
        // A folder that cannot be made is a problem of the settings file,
        // explained once as the missing folder every later write meets.
        try {
          if (!pathExists(appDataFolder_)) makeFolder(appDataFolder_);
        } catch (const RuntimeError& e) {
          settings_.report(rt::PathNotFound, e.description());
        }
      }))
    return showWindow();
  if (!trap([&] {
        const std::string logFile = appDataFolder_ + "status.log";
        if (!pathExists(logFile) || isRegularFile(logFile)) log_.setFilePath(logFile);
        else host_.msgBox(notRegularFileText(logFile, "its status log"), mb::OkOnly, "");
      }))
    return showWindow();
  if (!trap([&] { readSettings(); })) return showWindow();
  if (!trap([&] {
        setWindowTitle(QStringLiteral("Lumetra Kelvane %1.%2.%3")
                           .arg(KELVANE_VERSION_MAJOR)
                           .arg(KELVANE_VERSION_MINOR)
                           .arg(KELVANE_VERSION_REVISION));
      }))
    return showWindow();
  if (!trap([&] { help_.setStartupPath(); })) return showWindow();
  if (!trap([&] { loading_ = false; })) return showWindow();
  if (!engine_.search(trap)) return showWindow();
  if (!engine_.detected() && engine_.silent()) {
    // Found, but it did not answer: say so and show the window; the next
    // change searches again.
    trap([&] {
      host_.msgBox(
          "The Lumetra Dimmer was found but does not answer.  Please check its power supply and "
          "USB cable; the software tries again with your next change.",
          mb::OkOnly, "");
    });
  } else if (!engine_.detected()) {
    // A dimmer that is there but closed to this user is named first.
    trap([&] {
      if (!options_.deniedDimmerNodes) return;
      const DeviceLink& link = engine_.link();
      const std::string advice = deniedDimmerMessage(
          options_.deniedDimmerNodes(static_cast<std::uint16_t>(link.dimmerVendorId),
                                     static_cast<std::uint16_t>(link.dimmerProductId)));
      if (!advice.empty()) host_.msgBox(advice, mb::OkOnly, "");
    });
    trap([&] {
      if (engine_.busy())
        host_.msgBox(
            "The Lumetra Dimmer is in use by another program (another Kelvane window, a Kelvane "
            "server or the INDI driver).  Please close that program, then restart the software.",
            mb::OkOnly, "");
      else
        host_.msgBox(
          "Unable to detect the Lumetra Dimmer.  Please make sure it is plugged into power and a USB "
          "port on your computer, then restart the software.",
          mb::OkOnly, "");
    });
    // Nothing further runs: no window, no unload, no settings written.
    unloaded_ = true;
    TimerCheckPanel->stop();
    flushSettings();
    host_.endProgram(0);
    return false;
  }
  if (!engine_.setStepChange(trap)) return showWindow();
  if (!trap([&] { cmbPreset_Click(1); })) return showWindow();
  started_ = !errors_.ended();
  return started_;
}

void FrmMDI::formUnload() {
  if (unloaded_) return;
  unloaded_ = true;
  Trap trap(errors_, kModule, "Form_Unload");
  if (!trap([&] { writeSettings(); })) return;
  if (!trap([&] { shutDown(); })) return;
  if (!trap([&] { settings_.flush(); })) return;
  trap([&] {
    TimerCheckPanel->stop();
    log_.flush();
  });
}

void FrmMDI::endOnRequest() {
  if (endRequested_) return;
  endRequested_ = true;
  log_.message("Asked to end by the system");
  if (started_ && !unloaded_) {
    formUnload();
  } else {
    // Start-up not finished (its settings only partly read) or the unload
    // already under way below us: finish the way Abort does.
    ending_ = true;
    shutDown();
  }
  flushSettings();
  host_.endProgram(0);
}

void FrmMDI::endWithoutDisplay() {
  if (unloaded_) return;
  // Before start-up finished the settings are only partly read: the window's
  // state is not saved (what it posted already is).
  const bool write = started_;
  unloaded_ = ending_ = true;
  log_.setViewSink(nullptr);
  engine_.setEventPass(nullptr);
  Trap trap(errors_, kModule, "Form_Unload");
  flushSettings();
  if (chkTurnOff->value() == 1) {
    engine_.settle();  // tried whatever happened before
    if (!engine_.sendBrightness(trap, [] { return 0; })) return;
    if (write && !trap([&] { writeKeys({{kLastBrightnessKey, "0"}}); })) return;
  }
  engine_.close(trap);
  log_.flush();
}

void FrmMDI::shutDown() {
  Trap trap(errors_, kModule, "ShutDown");
  if (!trap([&] {
        if (chkTurnOff->value() == 1) {
          // A panel left lit is worse than one more bounded wait: the
          // turn-off searches and sends whatever happened before.
          engine_.settle();
          brightness_ = 0;
          updateBrightness();
        }
      }))
    return;
  engine_.close(trap);
}

}  // namespace kelvane
