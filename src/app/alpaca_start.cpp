#include "app/alpaca_start.h"

#include <QAbstractEventDispatcher>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostInfo>
#include <cstdio>
#include <cstring>
#include <random>

#include "alpaca/alpaca_protocol.h"
#include "app/alpaca_devices.h"
#include "app/alpaca_server.h"
#include "app/frm_mdi.h"
#include "app/termination_signals.h"
#include "device/protocol.h"
#include "settings/ini_file.h"
#include "settings/presets.h"
#include "support/error_handler.h"
#include "support/file_helpers.h"
#include "support/host.h"
#include "support/number_text.h"
#include "support/status_log.h"

namespace kelvane {

namespace {

void complain(const QString& text) { std::fprintf(stderr, "kelvane: %s\n", text.toLocal8Bit().constData()); }

std::optional<quint16> portNumber(const QString& text) {
  const auto n = parseAlpacaInteger(text.trimmed().toStdString());
  if (!n || *n < 0 || *n > 65535) return std::nullopt;
  return static_cast<quint16>(*n);
}

// Where and how to serve, from the command line, else the settings file.
struct ServerSetup {
  quint16 port = 0;
  AlpacaHttpServer::Reach reach;
  std::string uniqueId;
};

std::optional<ServerSetup> resolveSetup(SettingsFile& store, const AlpacaCommandLine& command) {
  // What the command line gives applies to this run only: a service started
  // with --alpaca P must not move the window's server to P.
  ServerSetup setup;
  if (command.port) {
    setup.port = *command.port;
  } else {
    const std::string kept = store.read(kAlpacaPortKey, "0");
    const auto port = portNumber(QString::fromStdString(kept));
    if (!port) complain(QStringLiteral("the AlpacaPort setting \"%1\" is not a port number; not serving")
                            .arg(QString::fromStdString(boundedText(kept))));
    setup.port = port.value_or(0);
  }
  if (setup.port == 0) return std::nullopt;
  QString listen;
  if (command.listen) {
    listen = *command.listen;
  } else {
    listen = QString::fromStdString(store.read(kAlpacaListenKey, ""));
  }
  const auto reach = AlpacaHttpServer::reachFor(listen);
  if (!reach)
    complain(QStringLiteral("the AlpacaListen setting \"%1\" is not an address; serving this computer only")
                 .arg(QString::fromStdString(boundedText(listen.toStdString()))));
  setup.reach = reach ? *reach : *AlpacaHttpServer::reachFor(QString());
  setup.uniqueId = store.read(kAlpacaUniqueIdKey, "");
  if (setup.uniqueId.empty()) {
    std::random_device random;
    setup.uniqueId = makeUniqueId([&random] { return static_cast<std::uint32_t>(random()); });
    store.write({{kAlpacaUniqueIdKey, setup.uniqueId}});
  }
  return setup;
}

// The device, the protocol and the sockets, alive together.
class AlpacaStack : public QObject {
 public:
  AlpacaStack(std::unique_ptr<AlpacaCalibrator> device, const ServerSetup& setup)
      : device_(std::move(device)), service_(*device_, setup.uniqueId), http_(service_, this) {
    service_.setLocation(QHostInfo::localHostName().toStdString());
  }
  bool start(const ServerSetup& setup, quint16 discoveryPort, StatusLog& log, QString& error) {
    if (!http_.listen(setup.reach, setup.port, error)) return false;
    QStringList where;
    for (const QHostAddress& a : setup.reach.addresses)
      where << (a == QHostAddress(QHostAddress::Any) ? QStringLiteral("every address") : a.toString());
    const QString text = QStringLiteral("Alpaca server on %1 port %2%3")
                             .arg(where.join(QStringLiteral(", ")))
                             .arg(http_.port())
                             .arg(setup.reach.everyone ? QString() : QStringLiteral(", for programs on this computer"));
    complain(text);
    log.message(text.toStdString());
    if (setup.reach.everyone)
      complain(QStringLiteral("other machines can reach this server: whoever reaches it can switch the "
                              "panel (Alpaca has no password)"));
    if (discoveryPort != 0) {
      QString why;
      if (!http_.startDiscovery(discoveryPort, why)) complain(why);
    }
    return true;
  }

 private:
  std::unique_ptr<AlpacaCalibrator> device_;
  AlpacaService service_;
  AlpacaHttpServer http_;
};

}  // namespace

void addAlpacaOptions(QCommandLineParser& parser, const AlpacaOptions& options) {
  parser.addOptions({options.port, options.headless, options.discovery, options.listen});
}

bool headlessRequested(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--headless") == 0) return true;
  return false;
}

bool readAlpacaOptions(const QCommandLineParser& parser, const AlpacaOptions& options, AlpacaCommandLine& out) {
  out.headless = parser.isSet(options.headless);
  if (parser.isSet(options.port)) {
    out.port = portNumber(parser.value(options.port));
    if (!out.port) return complain(QStringLiteral("--alpaca needs a port number from 0 to 65535")), false;
  }
  if (parser.isSet(options.discovery)) {
    const auto port = portNumber(parser.value(options.discovery));
    if (!port) return complain(QStringLiteral("--alpaca-discovery needs a port number from 0 to 65535")), false;
    out.discoveryPort = *port;
  }
  if (parser.isSet(options.listen)) {
    out.listen = parser.value(options.listen).trimmed();
    if (!AlpacaHttpServer::reachFor(*out.listen))
      return complain(QStringLiteral("--alpaca-listen needs an IP address (0.0.0.0, :: or one interface's address)")), false;
  }
  return true;
}

std::unique_ptr<QObject> startWindowServer(FrmMDI& window, ErrorHandler& errors, const AlpacaCommandLine& command) {
  // The window's own settings file: a broken file is explained once, not
  // once by the window and again here.
  const auto setup = resolveSetup(window.settingsFile(), command);
  if (!setup) return nullptr;
  auto stack = std::make_unique<AlpacaStack>(std::make_unique<WindowCalibrator>(window, errors), *setup);
  QString error;
  if (!stack->start(*setup, command.discoveryPort, errors.log(), error)) {
    complain(error);
    errors.host().msgBox("The Alpaca server could not start: " + error.toStdString(), mb::OkOnly, "Alpaca server");
    return nullptr;
  }
  return stack;
}

int runHeadless(HidPlatform& platform, StatusLog& log, ErrorHandler& errors, const AlpacaCommandLine& command,
                const std::string& folder) {
  // Nobody can answer a dialog here: failures go to standard error, and a
  // request that meets one gets a driver error.
  errors.setUnattended(true);
  std::string notice;
  const std::string appData = settingsFolder(notice);
  if (!notice.empty()) complain(QString::fromStdString(notice));
  {
    Trap trap(errors, "Headless", "Start");
    if (!trap([&] {
          if (!pathExists(appData)) makeFolder(appData);
        }))
      return 1;
  }
  const std::string logFile = appData + "status.log";
  if (!pathExists(logFile) || isRegularFile(logFile)) log.setFilePath(logFile);
  else complain(QString::fromStdString(notRegularFileText(logFile, "its status log")));
  SettingsFile store(errors.host(), errors.log());
  store.setPath(appData + "Kelvane.ini");
  // What writes killed midway (a service stopped with SIGKILL) left behind.
  store.removeStaleTempFiles();
  const auto setup = resolveSetup(store, command);
  if (!setup) {
    complain(QStringLiteral("--headless needs --alpaca PORT (or AlpacaPort in the settings)"));
    return 2;
  }

  PanelEngine engine(platform, log, errors);
  engine.link().dimmerVendorId = kDefaultVendorId;
  engine.link().dimmerProductId = kDefaultProductId;
  const std::string productFile = folder + "productid.txt";
  if (fileExists(productFile)) {
    const std::string text = readFiletoString(errors, productFile);
    if (!text.empty()) engine.link().dimmerProductId = toWholeNumber(valueOfText(text));
  }
  PanelController controller(engine, errors);
  std::int32_t last = clampBrightness(toWholeNumber(valueOfText(store.read(kLastBrightnessKey, kDefaultLastBrightness))));
  auto device = std::make_unique<HeadlessCalibrator>(engine, controller, errors, [&](std::int32_t value) {
    last = value;
    store.write({{kLastBrightnessKey, decimalText(value)}});
  });
  HeadlessCalibrator& calibrator = *device;
  AlpacaStack stack(std::move(device), *setup);
  QString error;
  if (!stack.start(*setup, command.discoveryPort, log, error)) {
    complain(error);
    return 1;
  }
  // As the window does at start-up: the panel goes to the last brightness.
  if (const AlpacaFailure f = calibrator.connect())
    complain(QString::fromStdString(f.message) + QStringLiteral("; serving, a client's Connect searches again"));
  else
    calibrator.request(last);

  TerminationSignals termination;
  QObject::connect(&termination, &TerminationSignals::requested, qApp, [](int) { QCoreApplication::quit(); });
  QObject::connect(QCoreApplication::eventDispatcher(), &QAbstractEventDispatcher::aboutToBlock, qApp,
                   [&log] { log.flush(); });
  QCoreApplication::exec();

  // The end, as the window's: the panel turned off when asked, and then the
  // brightness kept is 0 (as the window keeps it), so the next start leaves
  // the panel dark; otherwise the last brightness is kept. The turn-off is
  // tried also when the dimmer was lost or never found.
  const bool turnOff = textToWholeNumber(store.read(kTurnOffKey, kDefaultTurnOff)) == 1;
  store.write({{kLastBrightnessKey, turnOff ? std::string("0") : decimalText(last)}});
  if (turnOff) controller.request(0);
  calibrator.disconnect();
  log.flush();
  return 0;
}

}  // namespace kelvane
