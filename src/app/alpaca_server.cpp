#include "app/alpaca_server.h"

#include <QNetworkDatagram>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

#include "alpaca/alpaca_protocol.h"
#include "alpaca/shared_udp.h"

namespace kelvane {

namespace {
constexpr qint64 kReadChunk = 16 * 1024;
constexpr qint64 kMaxDatagram = 64;

void sendAndClose(QTcpSocket* socket, int status, const std::string& reason) {
  const std::string bytes = formatHttpResponse(status, "text/plain; charset=utf-8", reason + "\n", false);
  socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
  socket->disconnectFromHost();
  // A client that never reads the answer does not keep the socket alive.
  QTimer::singleShot(2000, socket, [socket] { socket->abort(); });
}
}  // namespace

// Owned by its socket.
struct AlpacaHttpServer::Connection : QObject {
  using QObject::QObject;
  HttpRequestReader reader;
  QTimer idle;
};

AlpacaHttpServer::AlpacaHttpServer(AlpacaService& service, QObject* parent)
    : QObject(parent), service_(service) {}

AlpacaHttpServer::~AlpacaHttpServer() {
  for (auto& entry : connections_) entry.first->disconnect(this);
}

QList<QHostAddress> AlpacaHttpServer::listenAddresses(const QString& text) {
  if (text.isEmpty()) return {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)};
  const QString t = text.trimmed();
  if (t == QLatin1String("::")) return {QHostAddress(QHostAddress::Any)};
  QHostAddress address;
  if (!address.setAddress(t)) return {};
  return {address};
}

bool AlpacaHttpServer::beyondLoopback(const QList<QHostAddress>& addresses) {
  for (const QHostAddress& a : addresses)
    if (!a.isLoopback()) return true;
  return false;
}

bool AlpacaHttpServer::listen(const QList<QHostAddress>& addresses, quint16 port, QString& error) {
  loopbackOnly_ = !beyondLoopback(addresses);
  for (const QHostAddress& address : addresses) {
    auto* server = new QTcpServer(this);
    if (!server->listen(address, port)) {
      // A machine without IPv6 still serves its IPv4 loopback.
      if (address == QHostAddress(QHostAddress::LocalHostIPv6) && !servers_.isEmpty()) {
        delete server;
        continue;
      }
      error = QStringLiteral("cannot listen on %1 port %2: %3")
                  .arg(address.toString())
                  .arg(port)
                  .arg(server->errorString());
      delete server;
      return false;
    }
    port = server->serverPort();
    port_ = port;
    connect(server, &QTcpServer::newConnection, this, [this, server] { accept(server); });
    servers_.append(server);
  }
  return !servers_.isEmpty();
}

void AlpacaHttpServer::accept(QTcpServer* server) {
  while (QTcpSocket* socket = server->nextPendingConnection()) {
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    if (static_cast<int>(connections_.size()) >= limits_.maxConnections) {
      sendAndClose(socket, 503, "Too many connections; try again shortly");
      continue;
    }
    auto* connection = new Connection(socket);
    connections_[socket] = connection;
    // Qt reads no further ahead of the reader than this.
    socket->setReadBufferSize(kReadChunk);
    connection->idle.setSingleShot(true);
    connection->idle.setInterval(limits_.idleMs);
    connect(&connection->idle, &QTimer::timeout, socket, [socket] { socket->abort(); });
    connection->idle.start();
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { serve(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { forget(socket); });
    connect(socket, &QObject::destroyed, this, [this, socket] { forget(socket); });
  }
}

void AlpacaHttpServer::forget(QTcpSocket* socket) {
  const auto it = connections_.find(socket);
  if (it == connections_.end()) return;
  it->second->idle.stop();
  connections_.erase(it);
  deferred_.removeAll(socket);
}

void AlpacaHttpServer::serve(QTcpSocket* socket) {
  const auto it = connections_.find(socket);
  if (it == connections_.end() || socket->state() != QAbstractSocket::ConnectedState) return;
  if (serving_) {
    // A request reached while another one waits on the dimmer (the window's
    // event pass): answer it afterwards, in order.
    if (!deferred_.contains(socket)) deferred_.append(socket);
    return;
  }
  Connection& c = *it->second;
  if (socket->bytesAvailable() > 0) c.idle.start();
  serving_ = true;
  QPointer<QTcpSocket> alive(socket);
  for (;;) {
    if (socket->bytesToWrite() > limits_.maxUnsentBytes) break;  // resumed by bytesWritten
    const qint64 room = static_cast<qint64>(c.reader.room());
    if (room > 0 && socket->bytesAvailable() > 0) {
      const QByteArray bytes = socket->read(std::min(room, kReadChunk));
      c.reader.append(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    }
    HttpRequest request;
    const HttpRequestReader::Result result = c.reader.next(request);
    if (result == HttpRequestReader::Result::NeedMore) {
      if (socket->bytesAvailable() > 0 && c.reader.room() > 0) continue;
      break;
    }
    if (result == HttpRequestReader::Result::Failed) {
      sendAndClose(socket, c.reader.failedStatus(), httpReason(c.reader.failedStatus()));
      break;
    }
    const AlpacaReply reply =
        loopbackOnly_ && !isLoopbackHost(request.host)
            ? AlpacaReply{403, "text/plain; charset=utf-8", "This server answers requests addressed to localhost only\n"}
            : service_.handle(request.method, request.path, request.query, request.body);
    if (!alive || socket->state() != QAbstractSocket::ConnectedState) break;
    const std::string bytes = formatHttpResponse(reply.status, reply.contentType, reply.body, request.keepAlive);
    socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
    if (!request.keepAlive) {
      socket->disconnectFromHost();
      break;
    }
  }
  serving_ = false;
  if (!deferred_.isEmpty()) QTimer::singleShot(0, this, &AlpacaHttpServer::serveDeferred);
}

void AlpacaHttpServer::serveDeferred() {
  const QList<QTcpSocket*> waiting = std::exchange(deferred_, {});
  for (QTcpSocket* socket : waiting)
    if (connections_.count(socket)) serve(socket);
}

bool AlpacaHttpServer::startDiscovery(quint16 discoveryPort, QString& error) {
  for (const bool ipv6 : {false, true}) {
    std::string why;
    const std::intptr_t handle = openSharedUdpSocket(ipv6, discoveryPort, why);
    if (handle < 0) {
      if (ipv6 && !discovery_.isEmpty()) continue;  // no IPv6 on this machine
      error = QStringLiteral("cannot answer discovery on UDP port %1: %2")
                  .arg(discoveryPort)
                  .arg(QString::fromStdString(why));
      return false;
    }
    auto* socket = new QUdpSocket(this);
    socket->setSocketDescriptor(static_cast<qintptr>(handle), QAbstractSocket::BoundState);
    if (ipv6) socket->joinMulticastGroup(QHostAddress(QStringLiteral("ff12::a1:9aca")));
    connect(socket, &QUdpSocket::readyRead, this, [this, socket] { answerDiscovery(socket); });
    discovery_.append(socket);
  }
  return true;
}

void AlpacaHttpServer::answerDiscovery(QUdpSocket* socket) {
  while (socket->hasPendingDatagrams()) {
    const QNetworkDatagram datagram = socket->receiveDatagram(kMaxDatagram);
    const QByteArray data = datagram.data();
    const auto reply = discoveryReply(std::string_view(data.constData(), static_cast<std::size_t>(data.size())), port_);
    if (!reply) continue;
    socket->writeDatagram(QByteArray::fromStdString(*reply), datagram.senderAddress(),
                          static_cast<quint16>(datagram.senderPort()));
  }
}

}  // namespace kelvane
