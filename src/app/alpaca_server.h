#pragma once
// The Alpaca server's sockets: HTTP on QTcpServer, framed by the core's
// bounded reader and answered by the core's AlpacaService, and the UDP
// discovery responder. Everything runs on the event loop; a request is
// answered before the next one is read.
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <map>

#include "alpaca/http_reader.h"

class QTcpServer;
class QTcpSocket;
class QUdpSocket;

namespace kelvane {

class AlpacaService;

class AlpacaHttpServer : public QObject {
  Q_OBJECT
 public:
  struct Limits {
    int maxConnections = 64;
    int idleMs = 10000;               // a connection that sends nothing this long is closed
    qint64 maxUnsentBytes = 256 * 1024;  // stop reading a client that does not read its answers
  };

  explicit AlpacaHttpServer(AlpacaService& service, QObject* parent = nullptr);
  ~AlpacaHttpServer() override;

  void setLimits(const Limits& limits) { limits_ = limits; }
  // Listens on every address at the same port; port 0 takes a free one.
  bool listen(const QList<QHostAddress>& addresses, quint16 port, QString& error);
  quint16 port() const { return port_; }
  // Answers discovery datagrams on the port (shared with other servers).
  bool startDiscovery(quint16 discoveryPort, QString& error);
  int connectionCount() const { return static_cast<int>(connections_.size()); }

  // 127.0.0.1 and ::1, or the one address given ("::" means every address of
  // both families); empty when the text is not an address.
  static QList<QHostAddress> listenAddresses(const QString& text);
  static bool beyondLoopback(const QList<QHostAddress>& addresses);

 private:
  struct Connection;
  void accept(QTcpServer* server);
  void serve(QTcpSocket* socket);
  void forget(QTcpSocket* socket);
  void serveDeferred();
  void answerDiscovery(QUdpSocket* socket);

  AlpacaService& service_;
  Limits limits_;
  QList<QTcpServer*> servers_;
  QList<QUdpSocket*> discovery_;
  std::map<QTcpSocket*, Connection*> connections_;
  QList<QTcpSocket*> deferred_;
  quint16 port_ = 0;
  bool serving_ = false;
  bool loopbackOnly_ = true;
};

}  // namespace kelvane
