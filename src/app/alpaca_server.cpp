#include "app/alpaca_server.h"

#include <QDateTime>
#include <QNetworkDatagram>
#include <QNetworkInterface>
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

IpAddress ipAddress(const QHostAddress& a) {
  IpAddress out;
  bool v4 = false;
  const quint32 n = a.toIPv4Address(&v4);  // IPv4-mapped IPv6 addresses too
  if (v4) {
    out.bytes[10] = out.bytes[11] = 0xFF;
    for (int i = 0; i < 4; ++i) out.bytes[static_cast<std::size_t>(12 + i)] = static_cast<std::uint8_t>(n >> (24 - 8 * i));
  } else {
    const Q_IPV6ADDR b = a.toIPv6Address();
    for (std::size_t i = 0; i < 16; ++i) out.bytes[i] = b[static_cast<int>(i)];
  }
  return out;
}

std::vector<IpAddress> interfaceAddresses() {
  std::vector<IpAddress> out;
  for (const QHostAddress& a : QNetworkInterface::allAddresses()) out.push_back(ipAddress(a));
  return out;
}
}  // namespace

// Owned by its socket.
struct AlpacaHttpServer::Connection : QObject {
  using QObject::QObject;
  HttpRequestReader reader;
  QTimer deadline;  // idle, or the whole request once it has begun
  IpAddress peer;
};

AlpacaHttpServer::AlpacaHttpServer(AlpacaService& service, QObject* parent)
    : QObject(parent),
      service_(service),
      own_(interfaceAddresses, [] { return QDateTime::currentMSecsSinceEpoch(); }),
      slots_(limits_.connections) {}

void AlpacaHttpServer::setLimits(const Limits& limits) {
  limits_ = limits;
  slots_.setLimits(limits.connections);
}

AlpacaHttpServer::~AlpacaHttpServer() {
  for (auto& entry : connections_) entry.first->disconnect(this);
}

std::optional<AlpacaHttpServer::Reach> AlpacaHttpServer::reachFor(const QString& text) {
  const QString t = text.trimmed();
  if (t.isEmpty()) return Reach{{QHostAddress(QHostAddress::Any)}, false};
  if (t == QLatin1String("::")) return Reach{{QHostAddress(QHostAddress::Any)}, true};
  QHostAddress address;
  if (!address.setAddress(t)) return std::nullopt;
  return Reach{{address}, !address.isLoopback()};
}

bool AlpacaHttpServer::mayUse(const QHostAddress& peer) {
  return reach_.everyone || own_.contains(ipAddress(peer));
}

bool AlpacaHttpServer::listen(const Reach& reach, quint16 port, QString& error) {
  reach_ = reach;
  for (const QHostAddress& address : reach.addresses) {
    auto* server = new QTcpServer(this);
    if (!server->listen(address, port)) {
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
    // Another computer, while the server is for this one: reset, not a
    // word of HTTP.
    if (!mayUse(socket->peerAddress())) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    const IpAddress peer = ipAddress(socket->peerAddress());
    if (!slots_.take(peer)) {
      sendAndClose(socket, 503, "Too many connections; try again shortly");
      continue;
    }
    auto* connection = new Connection(socket);
    connection->peer = peer;
    connections_[socket] = connection;
    // Qt reads no further ahead of the reader than this.
    socket->setReadBufferSize(kReadChunk);
    connection->deadline.setSingleShot(true);
    connect(&connection->deadline, &QTimer::timeout, socket, [this, socket] {
      const auto it = connections_.find(socket);
      // A request begun and not finished in time: someone sends too slowly,
      // maybe on purpose, and holds a slot.
      if (it != connections_.end() && it->second->reader.buffered() > 0)
        sendAndClose(socket, 408, "The request did not arrive in time");
      else
        socket->abort();
    });
    connection->deadline.start(limits_.idleMs);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { serve(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { forget(socket); });
    connect(socket, &QObject::destroyed, this, [this, socket] { forget(socket); });
  }
}

void AlpacaHttpServer::forget(QTcpSocket* socket) {
  const auto it = connections_.find(socket);
  if (it == connections_.end()) return;
  it->second->deadline.stop();
  slots_.give(it->second->peer);
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
  const bool begun = c.reader.buffered() > 0;
  bool answered = false;
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
    answered = true;
    const AlpacaReply reply =
        !reach_.everyone && !hostIsThisComputer(request.host, own_)
            ? AlpacaReply{403, "text/plain; charset=utf-8",
                          "This server answers requests addressed to this computer (localhost or its own "
                          "addresses) only\n"}
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
  // The request clock starts at a request's first byte and is not wound
  // back by the ones after it; the idle clock starts at each answer.
  if (alive && connections_.count(socket)) {
    const bool under = c.reader.buffered() > 0;
    if (answered || under != begun) c.deadline.start(under ? limits_.requestMs : limits_.idleMs);
  }
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
    auto* socket = new QUdpSocket(this);
#ifdef _WIN32
    // Qt's own bind shares the port there (SO_REUSEADDR). A socket handed
    // over by descriptor would lack the engine's set-up for WSARecvMsg, and
    // Qt 6.4 then calls an unset pointer on the first datagram.
    const QHostAddress any(ipv6 ? QHostAddress::AnyIPv6 : QHostAddress::AnyIPv4);
    const bool bound = socket->bind(any, discoveryPort, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
    if (!bound) why = socket->errorString().toStdString();
#else
    const std::intptr_t handle = openSharedUdpSocket(ipv6, discoveryPort, why);
    const bool bound = handle >= 0;
    if (bound) socket->setSocketDescriptor(static_cast<qintptr>(handle), QAbstractSocket::BoundState);
#endif
    if (!bound) {
      delete socket;
      if (ipv6 && !discovery_.isEmpty()) continue;  // no IPv6 on this machine
      error = QStringLiteral("cannot answer discovery on UDP port %1: %2")
                  .arg(discoveryPort)
                  .arg(QString::fromStdString(why));
      return false;
    }
    if (ipv6) socket->joinMulticastGroup(QHostAddress(QStringLiteral("ff12::a1:9aca")));
    connect(socket, &QUdpSocket::readyRead, this, [this, socket] { answerDiscovery(socket); });
    discovery_.append(socket);
  }
  return true;
}

void AlpacaHttpServer::answerDiscovery(QUdpSocket* socket) {
  while (socket->hasPendingDatagrams()) {
    const QNetworkDatagram datagram = socket->receiveDatagram(kMaxDatagram);
    const QHostAddress sender = datagram.senderAddress();
    // Only to peers that may connect; and a server on a loopback address
    // is no use to a client that asked from a network address.
    const bool wildcard = reach_.addresses.contains(QHostAddress(QHostAddress::Any));
    if (!mayUse(sender) || (!reach_.everyone && !wildcard && !sender.isLoopback())) continue;
    const QByteArray data = datagram.data();
    const auto reply = discoveryReply(std::string_view(data.constData(), static_cast<std::size_t>(data.size())), port_);
    if (!reply) continue;
    socket->writeDatagram(QByteArray::fromStdString(*reply), datagram.senderAddress(),
                          static_cast<quint16>(datagram.senderPort()));
  }
}

}  // namespace kelvane
