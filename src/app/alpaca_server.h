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
#include <optional>

#include "alpaca/http_reader.h"
#include "alpaca/peer_policy.h"

class QTcpServer;
class QTcpSocket;
class QUdpSocket;

namespace kelvane {

class AlpacaService;

class AlpacaHttpServer : public QObject {
  Q_OBJECT
 public:
  struct Limits {
    SlotLimits connections;
    int idleMs = 10000;     // a connection with no request under way this long is closed
    int requestMs = 5000;   // a request (head and body) must be in this soon after its first byte
    qint64 maxUnsentBytes = 256 * 1024;  // stop reading a client that does not read its answers
  };
  // Where to listen, and whether every peer may come in or only this computer.
  struct Reach {
    QList<QHostAddress> addresses;
    bool everyone = false;
  };

  explicit AlpacaHttpServer(AlpacaService& service, QObject* parent = nullptr);
  ~AlpacaHttpServer() override;

  void setLimits(const Limits& limits);
  // Listens on every address at the same port; port 0 takes a free one.
  bool listen(const Reach& reach, quint16 port, QString& error);
  quint16 port() const { return port_; }
  // Answers discovery datagrams on the port (shared with other servers),
  // from the peers that may connect.
  bool startDiscovery(quint16 discoveryPort, QString& error);
  int connectionCount() const { return static_cast<int>(connections_.size()); }

  // No text: every address, for this computer's own addresses only (so a
  // client on this computer that found the server through one of its
  // network addresses gets in). An address ("::" means every address of
  // both families): listen there, for everyone unless it is a loopback
  // address. nullopt when the text is not an address.
  static std::optional<Reach> reachFor(const QString& text);

 private:
  struct Connection;
  void accept(QTcpServer* server);
  void serve(QTcpSocket* socket);
  void forget(QTcpSocket* socket);
  void serveDeferred();
  void answerDiscovery(QUdpSocket* socket);
  bool mayUse(const QHostAddress& peer);

  AlpacaService& service_;
  Limits limits_;
  Reach reach_;
  OwnAddresses own_;
  ConnectionSlots slots_;
  QList<QTcpServer*> servers_;
  QList<QUdpSocket*> discovery_;
  std::map<QTcpSocket*, Connection*> connections_;
  QList<QTcpSocket*> deferred_;
  quint16 port_ = 0;
  bool serving_ = false;
};

}  // namespace kelvane
