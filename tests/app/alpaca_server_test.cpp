// The Alpaca server through real sockets on loopback, with the window behind it.
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QNetworkInterface>
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

  void serve(const AlpacaHttpServer::Limits& limits = {}) {
    device = std::make_unique<WindowCalibrator>(*window, errors);
    service = std::make_unique<AlpacaService>(*device, "uid");
    http = std::make_unique<AlpacaHttpServer>(*service);
    http->setLimits(limits);
    QString error;
    ASSERT_TRUE(http->listen(AlpacaHttpServer::listenAddresses(QString()), 0, error)) << error.toStdString();
  }
  std::unique_ptr<QTcpSocket> client() {
    auto s = std::make_unique<QTcpSocket>();
    s->connectToHost(QHostAddress::LocalHost, http->port());
    spinUntil([&] { return s->state() != QAbstractSocket::ConnectingState && s->state() != QAbstractSocket::HostLookupState; });
    return s;
  }
  // One request on its own connection; the whole answer, headers included.
  std::string call(const std::string& method, const std::string& member, const std::string& body = "") {
    auto s = client();
    const std::string request = method + " /api/v1/covercalibrator/0/" + member + " HTTP/1.1\r\nHost: localhost\r\n" +
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

TEST_F(AlpacaServerTest, IdleAndExcessConnectionsAreClosedAndTheServerStillAnswers) {
  started();
  serve({3, 300, 256 * 1024});
  std::vector<std::unique_ptr<QTcpSocket>> idle;
  for (int i = 0; i < 3; ++i) idle.push_back(client());
  ASSERT_TRUE(spinUntil([&] { return http->connectionCount() == 3; }));
  auto extra = client();
  QByteArray refused;
  spinUntil([&] { return (refused += extra->readAll()).contains("503"); });
  EXPECT_TRUE(refused.startsWith("HTTP/1.1 503"));
  EXPECT_TRUE(spinUntil([&] { return http->connectionCount() == 0; }, 1500));
  for (auto& s : idle) EXPECT_TRUE(spinUntil([&] { return s->state() == QAbstractSocket::UnconnectedState; }));
  // A head without an end is cut at its bound.
  auto flood = client();
  flood->write("GET / HTTP/1.1\r\nX: " + QByteArray(3 * 1024 * 1024, 'x'));
  QByteArray answer;
  EXPECT_TRUE(spinUntil([&] { return (answer += flood->readAll()).contains("431"); }));
  EXPECT_NE(call("GET", "connected").find("\"Value\":true"), std::string::npos);
}

TEST_F(AlpacaServerTest, LoopbackByDefaultAndDiscoveryOnASharedPort) {
  started();
  serve();
  EXPECT_FALSE(AlpacaHttpServer::beyondLoopback(AlpacaHttpServer::listenAddresses(QString())));
  for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
    if (a.isLoopback() || a.protocol() != QAbstractSocket::IPv4Protocol) continue;
    QTcpSocket outside;
    outside.connectToHost(a, http->port());
    EXPECT_FALSE(outside.waitForConnected(500)) << a.toString().toStdString();
  }
  const quint16 port = static_cast<quint16>(42000 + QCoreApplication::applicationPid() % 8000);
  QString error;
  ASSERT_TRUE(http->startDiscovery(port, error)) << error.toStdString();
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

}  // namespace
}  // namespace kelvane::testkit
