// Kelvane: drives the USB HID dimmer of a flat-field light panel.
//   kelvane                      the dimmer on this machine's HID interfaces
//   kelvane --simulator          the built-in simulated dimmer
//   kelvane --simulator --sim-trace FILE
//                                ... and append every report it receives (">")
//                                and every answer it sends ("<") to FILE
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <memory>

#include "app/frm_mdi.h"
#include "app/qt_host.h"
#include "device/sim_hid.h"
#include "support/error_handler.h"
#include "support/file_helpers.h"
#include "support/status_log.h"
#include "app/platform_backend.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kelvane"));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Lumetra Kelvane flat-field panel dimmer"));
  parser.addHelpOption();
  const QCommandLineOption simulator(QStringLiteral("simulator"),
                                     QStringLiteral("Use the built-in simulated dimmer."));
  const QCommandLineOption simTrace(QStringLiteral("sim-trace"),
                                    QStringLiteral("Append the simulated dimmer's reports to <file>."),
                                    QStringLiteral("file"));
  parser.addOption(simulator);
  parser.addOption(simTrace);
  parser.process(app);

  using namespace kelvane;
  StatusLog log;
  QtHost host(log);
  ErrorHandler errors(host, log);
  log.setErrorHandler(&errors);
  host.setErrorHandler(&errors);

  std::unique_ptr<HidPlatform> platform;
  if (parser.isSet(simulator)) {
    auto sim = std::make_unique<SimulatedHid>();
    if (parser.isSet(simTrace) && !sim->openTrace(parser.value(simTrace).toStdString())) {
      std::fprintf(stderr, "kelvane: cannot open the trace file %s\n",
                   parser.value(simTrace).toLocal8Bit().constData());
      return 2;
    }
    platform = std::move(sim);
  } else if (parser.isSet(simTrace)) {
    std::fprintf(stderr, "kelvane: --sim-trace needs --simulator\n");
    return 2;
  } else {
    platform = makeSystemHidPlatform();
  }

  FrmMDIOptions options;
  options.programFolder = programFolder();
  FrmMDI window(host, log, errors, *platform, options);
  host.setOwner(&window);
  if (!window.formLoad()) return 0;
  window.show();

  // The log's file and view are brought up to date whenever the program is
  // idle, rather than on every line.
  QObject::connect(QCoreApplication::eventDispatcher(), &QAbstractEventDispatcher::aboutToBlock,
                   &window, [&log] { log.flush(); });
  const int code = QApplication::exec();
  log.flush();
  return code;
}
