#pragma once
// A main window on the simulated dimmer with virtual time, a scripted host,
// and a private application-data folder and program folder.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>

#include "app/frm_mdi.h"
#include "app/qt_host.h"
#include "device/sim_hid.h"
#include "support/error_handler.h"
#include "support/status_log.h"
#include "testkit/scripted_host.h"

namespace kelvane::testkit {

// Lets doEvents run Qt's queue once, as the program's one pass does.
class AppHost : public ScriptedHost {
 public:
  void doEvents() override {
    ScriptedHost::doEvents();
    passEventQueue();
  }
};

class MainWindowTest : public ::testing::Test {
 protected:
  QTemporaryDir configHome;
  QTemporaryDir programDir;
  AppHost host;
  StatusLog log;
  ErrorHandler errors{host, log};
  SimulatedHid sim;
  std::unique_ptr<FrmMDI> window;

  void SetUp() override {
    ASSERT_TRUE(configHome.isValid() && programDir.isValid());
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    qputenv("APPDATA", QDir::toNativeSeparators(configHome.path()).toLocal8Bit());
    sim.useVirtualTime();
    log.setClock([] { return std::string("10:00:00"); });
    log.setErrorHandler(&errors);
  }

  void TearDown() override { window.reset(); }

  std::string programFolder() const { return programDir.path().toStdString() + "/"; }
  // In the system's own spelling, as the program shows it (\ on Windows).
  std::string appData() const { return QDir::toNativeSeparators(configHome.path() + "/Kelvane/").toStdString(); }
  std::string iniPath() const { return appData() + "Kelvane.ini"; }

  void writeProgramFile(const std::string& name, const std::string& content) {
    std::ofstream(programFolder() + name, std::ios::binary) << content;
  }

  FrmMDIOptions options;  // create() fills in the folder and the read bound

  FrmMDI& create() {
    options.programFolder = programFolder();
    options.readTimeoutMs = 50;
    window = std::make_unique<FrmMDI>(host, log, errors, sim, options);
    return *window;
  }

  // Creates the window and runs start-up; the dimmer must be found.
  FrmMDI& started() {
    FrmMDI& w = create();
    EXPECT_TRUE(w.formLoad());
    return w;
  }

  // Output reports the dimmer received with the given command code.
  int sent(std::uint8_t code) const {
    int n = 0;
    for (const auto& r : const_cast<SimulatedHid&>(sim).received()) n += r.size() > 1 && r[1] == code;
    return n;
  }
  std::vector<int> sentValues() const {
    std::vector<int> values;
    for (const auto& r : const_cast<SimulatedHid&>(sim).received())
      if (r.size() > 3 && r[1] == 0x20) values.push_back(r[2] + 256 * r[3]);
    return values;
  }
  void clearSent() { sim.received().clear(); }
};

}  // namespace kelvane::testkit
