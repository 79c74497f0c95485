// Kelvane: drives the USB HID dimmer of a flat-field light panel.
//   kelvane                      the dimmer on this machine's HID interfaces
//   kelvane --simulator          the built-in simulated dimmer
//   kelvane --simulator --sim-trace FILE
//                                ... and append every report it receives (">")
//                                and every answer it sends ("<") to FILE
// Simulator faults, to try what the program does when the dimmer misbehaves:
//   --sim-delay MS, --sim-silent, --sim-short N, --sim-garbled, and Ctrl+Shift+U
//   in the window unplugs or re-plugs the simulated dimmer.
//   kelvane --night              starts in the night view (else as NightView
//                                in the settings says; Ctrl+N switches it)
// ASCOM Alpaca server (alpaca_start.h):
//   --alpaca PORT [--headless] [--alpaca-listen ADDRESS] [--alpaca-discovery PORT]
#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QKeySequence>
#include <QPointer>
#include <QShortcut>
#include <cstdio>
#include <memory>
#include <string_view>

#include "app/alpaca_start.h"
#include "app/frm_mdi.h"
#include "app/qt_host.h"
#include "device/device_access.h"
#include "app/session_end.h"
#include "app/single_instance.h"
#include "device/sim_hid.h"
#include "settings/ini_file.h"
#include "settings/presets.h"
#include "support/error_handler.h"
#include "support/file_helpers.h"
#include "support/host.h"
#include "support/night_view_qt.h"
#include "support/number_text.h"
#include "support/status_log.h"
#include "support/unattended_host.h"
#include "app/platform_backend.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {
// The night view as the settings file keeps it, read before any window is
// drawn. A file that cannot be read gives the day view; the window's own
// reading of the settings explains what is wrong with it.
bool savedNightView() {
  using namespace kelvane;
  try {
    const IniStore store(getSpecialFolder(CSIDL_APPDATA) + "Kelvane" + kPathSeparator + "Kelvane.ini");
    return textToWholeNumber(store.read(kSettingsSection, kNightViewKey)) == 1;
  } catch (...) {
    return false;
  }
}

// --help and --version answer on standard output, without a display.
bool onlyAnswers(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--") break;
    if (a == "-h" || a == "--help" || a == "-?" || a == "--help-all" || a == "-v" || a == "--version") return true;
  }
  return false;
}

}  // namespace

int main(int argc, char* argv[]) {
#ifdef _WIN32
  // A window program gets no console of its own: started from one, it
  // writes its messages there and hears its Ctrl+C (headless, the server).
  if (AttachConsole(ATTACH_PARENT_PROCESS)) {
    if (!GetStdHandle(STD_ERROR_HANDLE)) (void)std::freopen("CONOUT$", "w", stderr);
    if (!GetStdHandle(STD_OUTPUT_HANDLE)) (void)std::freopen("CONOUT$", "w", stdout);
  }
#endif
  // Without a window no display is needed.
  const bool headless = kelvane::headlessRequested(argc, argv);
  const bool windowless = headless || onlyAnswers(argc, argv);
  const std::unique_ptr<QCoreApplication> app = windowless
      ? std::make_unique<QCoreApplication>(argc, argv) : std::make_unique<QApplication>(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("Kelvane"));
  QCoreApplication::setApplicationVersion(QStringLiteral(KELVANE_VERSION));
  if (!windowless) {
    // Ties the window to its desktop entry (Wayland app id) and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.lumetra.Kelvane"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("com.lumetra.Kelvane")));
  }

  QCommandLineParser parser;
  // This text is also the manual page (help2man): the description ends with
  // what the window's keys and files are.
  parser.setApplicationDescription(QStringLiteral(
      "Lumetra Kelvane: sets the brightness of a Lumetra flat-field light panel's USB dimmer\n"
      "(0 to 1023) and keeps presets per telescope, camera, binning and filter.\n"
      "Without options it looks for the dimmer on this computer's HID interfaces.\n"
      "In the window, F1 opens the help, Alt+D the status view, and with --simulator\n"
      "Ctrl+Shift+U unplugs or re-plugs the simulated dimmer. Settings are kept in\n"
      "$XDG_CONFIG_HOME/Kelvane/Kelvane.ini (else ~/.config/Kelvane/Kelvane.ini)."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption simulator(QStringLiteral("simulator"),
                                     QStringLiteral("Use the built-in simulated dimmer."));
  const QCommandLineOption simTrace(QStringLiteral("sim-trace"),
                                    QStringLiteral("Append the simulated dimmer's reports to <file>."),
                                    QStringLiteral("file"));
  const QCommandLineOption simDelay(QStringLiteral("sim-delay"),
                                    QStringLiteral("The simulated dimmer answers <ms> late."), QStringLiteral("ms"));
  const QCommandLineOption simSilent(QStringLiteral("sim-silent"),
                                     QStringLiteral("The simulated dimmer never answers."));
  const QCommandLineOption simShort(QStringLiteral("sim-short"),
                                    QStringLiteral("The simulated dimmer's answers carry only <n> bytes."),
                                    QStringLiteral("n"));
  const QCommandLineOption simGarbled(QStringLiteral("sim-garbled"),
                                      QStringLiteral("The simulated dimmer's answers are scrambled."));
  const QCommandLineOption nightView(QStringLiteral("night"),
                                     QStringLiteral("Start in the night view: dark reds on black."));
  parser.addOptions({simulator, simTrace, simDelay, simSilent, simShort, simGarbled, nightView});
  const kelvane::AlpacaOptions alpacaOptions;
  kelvane::addAlpacaOptions(parser, alpacaOptions);
  parser.process(*app);
  // Before the first window (a notice of the start-up included), so that
  // nothing flashes bright in the dark.
  if (!headless) kelvane::night::apply(parser.isSet(nightView) || savedNightView());
  kelvane::AlpacaCommandLine alpaca;
  if (!kelvane::readAlpacaOptions(parser, alpacaOptions, alpaca)) return 2;

  using namespace kelvane;
  StatusLog log;
  QtHost host(log);
  // One window per settings file; a server without a window shares the
  // file with one, and the dimmer's own lock keeps them apart.
  std::string notice;
  SingleInstance instance(settingsFolder(notice) + "Kelvane.ini");
  if (!headless) {
    const SingleInstance::Claim claim = instance.claim();
    if (claim == SingleInstance::Claim::BroughtToFront) return 0;
    if (claim == SingleInstance::Claim::NotAnswering) {
      host.msgBox("Kelvane is already running and not responding (process " + std::to_string(instance.holder()) +
                      ").  Wait for it to finish what it is doing, or end it, then start Kelvane again.",
                  mb::OkOnly, "");
      return 1;
    }
  }

  // Without a window nobody answers a dialog: its text goes to standard
  // error (the service's journal) and the status log.
  UnattendedHost quiet([&log](const std::string& text) {
    std::fprintf(stderr, "kelvane: %s\n", text.c_str());
    log.message(text);
  });
  ErrorHandler errors(headless ? static_cast<Host&>(quiet) : host, log);
  quiet.setErrorHandler(&errors);
  log.setErrorHandler(&errors);
  host.setErrorHandler(&errors);

  std::unique_ptr<HidPlatform> platform;
  SimulatedHid* simulated = nullptr;
  if (parser.isSet(simulator)) {
    auto sim = std::make_unique<SimulatedHid>();
    if (parser.isSet(simTrace) && !sim->openTrace(parser.value(simTrace).toStdString())) {
      std::fprintf(stderr, "kelvane: cannot open the trace file %s\n",
                   parser.value(simTrace).toLocal8Bit().constData());
      return 2;
    }
    sim->faults().silent = parser.isSet(simSilent);
    sim->faults().garbled = parser.isSet(simGarbled);
    if (parser.isSet(simDelay)) sim->faults().answerDelayMs = parser.value(simDelay).toUInt();
    if (parser.isSet(simShort)) sim->faults().answerLength = parser.value(simShort).toUInt();
    simulated = sim.get();
    platform = std::move(sim);
  } else if (parser.isSet(simTrace) || parser.isSet(simDelay) || parser.isSet(simSilent) ||
             parser.isSet(simShort) || parser.isSet(simGarbled)) {
    std::fprintf(stderr, "kelvane: the --sim-... options need --simulator\n");
    return 2;
  } else {
    platform = makeSystemHidPlatform();
  }

  if (alpaca.headless) return runHeadless(*platform, log, errors, alpaca, programFolder());

  FrmMDIOptions options;
  options.programFolder = programFolder();
  options.dataFolder = installedDataFolder(options.programFolder);
  if (!simulated) options.deniedDimmerNodes = [](std::uint16_t vendor, std::uint16_t product) {
    return deniedDimmerNodes(vendor, product);
  };
  FrmMDI window(host, log, errors, *platform, options);
  host.setOwner(&window);
  // Every end by endProgram (Abort in any dialog included) writes what the
  // window's clicks posted.
  host.setBeforeEnd([guard = QPointer<FrmMDI>(&window)] {
    if (guard) guard->flushSettings();
  });
  host.setHelpLauncher(&window.helpLauncher());
  instance.setWindow(&window);
  endWithTheSession(window, host);
  if (!window.formLoad()) return 0;
  if (simulated) {
    auto* unplug = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+U")), &window);
    QObject::connect(unplug, &QShortcut::activated, &window, [simulated, &window] {
      const bool present = simulated->dimmerInterface().present;
      if (present) simulated->unplug(); else simulated->replug();
      window.setWindowTitle(window.windowTitle().section(QStringLiteral(" ["), 0, 0) +
                            (present ? QStringLiteral(" [simulated dimmer unplugged]") : QString()));
    });
  }
  window.show();
  const std::unique_ptr<QObject> alpacaServer = startWindowServer(window, errors, alpaca);
  const int code = QApplication::exec();
  log.flush();
  return code;
}
