#pragma once
// Starting the Alpaca server: its command-line options and settings keys,
// the server beside the window, and the server without a window.
#include <QCommandLineOption>
#include <QString>
#include <memory>
#include <optional>

class QCommandLineParser;
class QObject;

namespace kelvane {

class ErrorHandler;
class FrmMDI;
class HidPlatform;
class StatusLog;

inline constexpr const char* kAlpacaPortKey = "AlpacaPort";
inline constexpr const char* kAlpacaListenKey = "AlpacaListen";
inline constexpr const char* kAlpacaUniqueIdKey = "AlpacaUniqueID";

struct AlpacaOptions {
  QCommandLineOption port{QStringLiteral("alpaca"),
                          QStringLiteral("Serve the panel to ASCOM Alpaca clients on TCP <port> "
                                         "(this run only; AlpacaPort in the settings keeps one, 0 = not serving)."),
                          QStringLiteral("port")};
  QCommandLineOption headless{QStringLiteral("headless"),
                              QStringLiteral("Run the Alpaca server without a window.")};
  QCommandLineOption discovery{QStringLiteral("alpaca-discovery"),
                               QStringLiteral("Answer Alpaca discovery on UDP <port> (default 32227, "
                                              "0 = off; only to this computer unless --alpaca-listen "
                                              "opened the server)."),
                               QStringLiteral("port")};
  QCommandLineOption listen{QStringLiteral("alpaca-listen"),
                            QStringLiteral("Listen on <address> (0.0.0.0, :: or one interface's "
                                           "address) and let every machine that reaches it in, instead "
                                           "of programs on this computer only: they can all switch the "
                                           "panel, as Alpaca has no password (this run only; AlpacaListen "
                                           "in the settings keeps one; a loopback address keeps the "
                                           "server to this computer)."),
                            QStringLiteral("address")};
};

void addAlpacaOptions(QCommandLineParser& parser, const AlpacaOptions& options);

// Seen before the application object exists: a run without a window needs no display.
bool headlessRequested(int argc, char* argv[]);

// The options as given, checked; false with a message on standard error.
struct AlpacaCommandLine {
  bool headless = false;
  std::optional<quint16> port;
  std::optional<QString> listen;
  quint16 discoveryPort = 32227;
};
bool readAlpacaOptions(const QCommandLineParser& parser, const AlpacaOptions& options,
                       AlpacaCommandLine& out);

// Serves beside the window when a port is given or kept in the settings;
// nullptr when not serving. The object owns the server.
std::unique_ptr<QObject> startWindowServer(FrmMDI& window, ErrorHandler& errors,
                                           const AlpacaCommandLine& command);

// The server without a window; returns the exit code once a termination
// signal ended it.
int runHeadless(HidPlatform& platform, StatusLog& log, ErrorHandler& errors,
                const AlpacaCommandLine& command, const std::string& programFolder);

}  // namespace kelvane
