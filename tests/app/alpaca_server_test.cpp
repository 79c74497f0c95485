// The Alpaca server through real sockets on loopback, with the window behind it.
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QUdpSocket>

#include "alpaca/alpaca_protocol.h"
#include "app/alpaca_devices.h"
#include "app/alpaca_server.h"
#include "app/main_window_fixture.h"

namespace kelvane::testkit {
namespace {

// Runs the event loop until the condition holds or two seconds passed.
template <class F>
bool spinUntil(F condition, int ms = 2000) {
  QElapsedTimer t;
  t.start();
  while (!condition() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return condition();
}

class AlpacaServerTest : public MainWindowTest {
 protected:
  std::unique_ptr<WindowCalibrator> device;
  std::unique_ptr<AlpacaService> service;
  std::unique_ptr<AlpacaHttpServer> http;

  void serve(const AlpacaHttpServer::Limits& limits = {}, const QString& listen = {}) {
    // A server ends before the service and device it answers for.
    http.reset();
    service.reset();
    device = std::make_unique<WindowCalibrator>(*window, errors);
    service = std::make_unique<AlpacaService>(*device, "uid");
    http = std::make_unique<AlpacaHttpServer>(*service);
    http->setLimits(limits);
    QString error;
    ASSERT_TRUE(http->listen(*AlpacaHttpServer::reachFor(listen), 0, error)) << error.toStdString();
  }
  // A connection from `from` (any 127.x.y.z is this computer's) to `to`.
  std::unique_ptr<QTcpSocket> client(const char* from = "127.0.0.1", const QHostAddress& to = QHostAddress::LocalHost) {
    auto s = std::make_unique<QTcpSocket>();
    s->bind(QHostAddress(QString::fromLatin1(from)), 0);
    s->connectToHost(to, http->port());
    spinUntil([&] { return s->state() != QAbstractSocket::ConnectingState && s->state() != QAbstractSocket::HostLookupState; });
    return s;
  }
  // One request on its own connection; the whole answer, headers included.
  std::string call(const std::string& method, const std::string& member, const std::string& body = "",
                   const QHostAddress& to = QHostAddress::LocalHost, const std::string& host = "localhost") {
    auto s = client("0.0.0.0", to);
    const std::string request = method + " /api/v1/covercalibrator/0/" + member + " HTTP/1.1\r\nHost: " + host + "\r\n" +
                                "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    s->write(request.data(), static_cast<qint64>(request.size()));
    QByteArray answer;
    spinUntil([&] {
      answer += s->readAll();
      return s->state() == QAbstractSocket::UnconnectedState;
    });
    return answer.toStdString();
  }
  void settle() {
    for (int i = 0; i < 200 && window->TimerCheckPanel->isActive(); ++i) {
      sim.advanceVirtualTime(kMonitorIntervalMs * 1000);
      window->timerCheckPanel_Timer();
    }
  }
};

TEST_F(AlpacaServerTest, AClientDrivesTheWindowAndReadsWhatThePersonDoes) {
  FrmMDI& w = started();
  serve();
  const int writes = w.settingsWrites();
  EXPECT_NE(call("PUT", "calibratoron", "Brightness=300&ClientTransactionID=5").find("\"ClientTransactionID\":5,"), std::string::npos);
  EXPECT_EQ(w.txtBrightness->text(), "300");
  EXPECT_EQ(w.settingsWrites(), writes + 1);
  EXPECT_NE(call("GET", "calibratorchanging").find("\"Value\":true"), std::string::npos);
  settle();
  EXPECT_NE(call("GET", "calibratorstate").find("\"Value\":3,"), std::string::npos);
  EXPECT_NE(call("GET", "brightness").find("\"Value\":300,"), std::string::npos);
  w.cmdBright1_Click();
  settle();
  EXPECT_NE(call("GET", "brightness").find("\"Value\":301,"), std::string::npos);
  // An unplugged dimmer: the client gets a driver error, nobody gets a dialog.
  sim.unplug();
  const std::string failed = call("PUT", "calibratoron", "Brightness=400");
  EXPECT_NE(failed.find("\"ErrorNumber\":128"), std::string::npos) << failed;  // 0x500..0x503
  EXPECT_TRUE(host.shown.empty());
  EXPECT_NE(call("GET", "calibratorstate").find("\"Value\":5,"), std::string::npos);
}

TEST_F(AlpacaServerTest, SlowSendersAndIdleConnectionsDoNotLockOthersOut) {
  started();
  AlpacaHttpServer::Limits limits;
  // Bounds a loaded machine can open 64 connections within (under wine too).
  limits.idleMs = 2000;
  limits.requestMs = 4000;
  serve(limits);
  // 64 connections from one address, each one byte into a request.
  std::vector<std::unique_ptr<QTcpSocket>> slow;
  for (int i = 0; i < 64; ++i) slow.push_back(client("127.0.0.2"));
  for (auto& s : slow) s->write("G");
  ASSERT_TRUE(spinUntil([&] { return http->connectionCount() == 64; }, 10000));
  QElapsedTimer t;
  t.start();
  EXPECT_NE(call("GET", "connected").find("\"Value\":true"), std::string::npos);
  EXPECT_LT(t.elapsed(), 1000);
  auto extra = client("127.0.0.2");  // over its address's share
  QByteArray refused;
  spinUntil([&] { return (refused += extra->readAll()).contains("503"); });
  EXPECT_TRUE(refused.startsWith("HTTP/1.1 503")) << refused.toStdString();
  // A byte every 100 ms does not stretch the time a request may take.
  auto idle = client("127.0.0.3");
  QByteArray late;
  QElapsedTimer trickle;
  trickle.start();
  EXPECT_TRUE(spinUntil([&] {
    bool open = false;
    for (auto& s : slow) {
      if (s->state() != QAbstractSocket::ConnectedState) continue;
      if (trickle.elapsed() % 100 < 10) s->write("E");
      open = true;
    }
    return !open && http->connectionCount() == 0;
  }, 9000));
  EXPECT_LT(trickle.elapsed(), 6000);
  for (auto& s : slow) late += s->readAll();
  EXPECT_TRUE(late.startsWith("HTTP/1.1 408")) << late.left(40).toStdString();
  EXPECT_EQ(idle->readAll(), QByteArray());  // idle: closed without a word
  // A head without an end is cut at its bound.
  auto flood = client();
  flood->write("GET / HTTP/1.1\r\nX: " + QByteArray(3 * 1024 * 1024, 'x'));
  QByteArray answer;
  EXPECT_TRUE(spinUntil([&] { return (answer += flood->readAll()).contains("431"); }));
}

TEST_F(AlpacaServerTest, HostsOfThisComputerAndDiscoveryOnASharedPort) {
  started();
  serve();
  // (Clients through a network address, and other computers: alpaca_netns.py.)
  EXPECT_NE(call("GET", "connected", "", QHostAddress::LocalHost, "panel.example").find("HTTP/1.1 403"),
            std::string::npos);
  const quint16 port = static_cast<quint16>(42000 + QCoreApplication::applicationPid() % 8000);
  QString error;
  ASSERT_TRUE(http->startDiscovery(port, error)) << error.toStdString();
  {
    AlpacaHttpServer other(*service);
    EXPECT_TRUE(other.startDiscovery(port, error)) << error.toStdString();  // another server on the machine
    QUdpSocket asker;
    asker.bind(QHostAddress::LocalHost, 0);
    asker.writeDatagram("alpacadiscovery1", QHostAddress::LocalHost, port);
    ASSERT_TRUE(spinUntil([&] { return asker.hasPendingDatagrams(); }));
    const QByteArray reply = asker.receiveDatagram().data();
    EXPECT_TRUE(reply == "{\"AlpacaPort\":" + QByteArray::number(http->port()) + "}" || reply == "{\"AlpacaPort\":0}")
        << reply.toStdString();
  }
  // The address it listens on is a Host it answers.
  serve({}, QStringLiteral("127.0.0.2"));
  const QHostAddress there(QStringLiteral("127.0.0.2"));
  EXPECT_NE(call("GET", "connected", "", there, "127.0.0.2:" + std::to_string(http->port())).find("\"Value\":true"),
            std::string::npos);
}

}  // namespace
}  // namespace kelvane::testkit
