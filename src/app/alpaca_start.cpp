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
  QList<QHostAddress> addresses;
  std::string uniqueId;
};

std::optional<ServerSetup> resolveSetup(SettingsFile& store, const AlpacaCommandLine& command) {
  // A key is written only when the command line sets it, so files that never
  // saw the server keep every byte.
  const auto keep = [&](const char* key, const std::string& value) {
    if (store.read(key, "") != value) store.write({{key, value}});
  };
  ServerSetup setup;
  if (command.port) {
    setup.port = *command.port;
    keep(kAlpacaPortKey, std::to_string(setup.port));
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
    keep(kAlpacaListenKey, listen.toStdString());
  } else {
    listen = QString::fromStdString(store.read(kAlpacaListenKey, ""));
  }
  setup.addresses = AlpacaHttpServer::listenAddresses(listen);
  if (setup.addresses.isEmpty()) {
    complain(QStringLiteral("the AlpacaListen setting \"%1\" is not an address; listening on this computer only")
                 .arg(QString::fromStdString(boundedText(listen.toStdString()))));
    setup.addresses = AlpacaHttpServer::listenAddresses(QString());
  }
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
    if (!http_.listen(setup.addresses, setup.port, error)) return false;
    QStringList where;
    for (const QHostAddress& a : setup.addresses)
      where << (a == QHostAddress(QHostAddress::Any) ? QStringLiteral("every address") : a.toString());
    const QString text = QStringLiteral("Alpaca server on %1 port %2").arg(where.join(QStringLiteral(", "))).arg(http_.port());
    complain(text);
    log.message(text.toStdString());
    if (AlpacaHttpServer::beyondLoopback(setup.addresses))
      complain(QStringLiteral("other machines can reach this server: whoever reaches it can switch the "
                              "panel (Alpaca has no password)"));
    // Advertising a port that only this computer can reach helps no one.
    if (discoveryPort != 0 && AlpacaHttpServer::beyondLoopback(setup.addresses)) {
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
    if (AlpacaHttpServer::listenAddresses(*out.listen).isEmpty())
      return complain(QStringLiteral("--alpaca-listen needs an IP address (0.0.0.0, :: or one interface's address)")), false;
  }
  return true;
}

std::unique_ptr<QObject> startWindowServer(FrmMDI& window, ErrorHandler& errors, const AlpacaCommandLine& command) {
  SettingsFile store(errors.host(), errors.log());
  store.setPath(window.iniFile());
  const auto setup = resolveSetup(store, command);
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
  const std::string appData = getSpecialFolder(CSIDL_APPDATA) + "Kelvane" + kPathSeparator;
  {
    Trap trap(errors, "Headless", "Start");
    if (!trap([&] {
          if (!pathExists(appData)) makeFolder(appData);
        }))
      return 1;
  }
  log.setFilePath(appData + "status.log");
  SettingsFile store(errors.host(), errors.log());
  store.setPath(appData + "Kelvane.ini");
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

  // The end, as the window's: settings, the turn-off when asked, handles closed.
  store.write({{kLastBrightnessKey, decimalText(last)}});
  // The turn-off is tried also when the dimmer was lost or never found.
  if (textToWholeNumber(store.read(kTurnOffKey, kDefaultTurnOff)) == 1) controller.request(0);
  calibrator.disconnect();
  log.flush();
  return 0;
}

}  // namespace kelvane
