#include "core/IPDaemon.h"

#include "core/EndpointConnection.h"
#include "core/IPPort.h"

#include <QHostAddress>
#include <QMap>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace {

constexpr int MaxBufferSize = 16 * 1024 * 1024;
constexpr int AcceptRetryMs = 1000;

} // namespace

struct IPDaemon::Impl
{
    explicit Impl(IPDaemon *owner) : q(owner) {}

    void stopListening();
    void onNewConnection();
    // Raises the request for a new connection and adopts it, or closes it. False when the
    // listener went in a handler.
    bool offer(QTcpSocket *socket, const ChannelSecurity &security);
    void adopt(QTcpSocket *socket, const ChannelSecurity &security);

    // What stays readable about a connection after it has gone.
    struct Peer
    {
        QString address;
        int port = 0;
        qint64 sentCount = 0;
        ChannelSecurity security;
    };

    IPDaemon *q;
    bool stackOn = true;
    int localPort = 0;
    QHostAddress localAddress = QHostAddress(QHostAddress::Any);
    QTcpServer *server = nullptr;
    QMap<int, EndpointConnection *> live;
    QMap<int, Peer> peers;
    QByteArray defaultLineEnd;
    int inputBufferSize = IPPort::DefaultInputBufferSize;
    int outputBufferSize = IPPort::DefaultOutputBufferSize;
    std::function<bool(const ChannelSecurity &)> admission;
};

IPDaemon::IPDaemon(QObject *parent)
    : QObject(parent)
    , d(new Impl(this))
{
}

IPDaemon::~IPDaemon()
{
    d->stopListening();
    // Deleted here rather than as children, so each lets go of its socket safely.
    qDeleteAll(d->live);
    delete d;
}

EndpointError IPDaemon::setStackOn(bool on)
{
    if (!on) {
        d->stopListening();
        QPointer<IPDaemon> self(this);
        const QList<int> ids = d->live.keys();
        for (int id : ids) {
            closeConnection(id);
            if (!self)
                return {};
        }
    }
    d->stackOn = on;
    return {};
}

bool IPDaemon::stackOn() const
{
    return d->stackOn;
}

EndpointError IPDaemon::setLocalPort(int port)
{
    if (port < 0 || port > 65535)
        return {EndpointError::InvalidArgument, QStringLiteral("Port must be between 0 and 65535")};
    d->localPort = port;
    return {};
}

EndpointError IPDaemon::setLocalAddress(const QString &address)
{
    if (address.trimmed().isEmpty()) {
        d->localAddress = QHostAddress(QHostAddress::Any);
        return {};
    }
    QHostAddress parsed;
    if (!parsed.setAddress(address.trimmed()))
        return {EndpointError::InvalidArgument, QStringLiteral("Not a numeric address: ") + address};
    d->localAddress = parsed;
    return {};
}

QString IPDaemon::localAddress() const
{
    return d->localAddress.toString();
}

int IPDaemon::localPort() const
{
    return d->server ? int(d->server->serverPort()) : d->localPort;
}

EndpointError IPDaemon::setListening(bool listen)
{
    if (!listen) {
        d->stopListening();
        return {};
    }
    if (d->server) {
        if (d->localPort == 0 || d->server->serverPort() == d->localPort)
            return {};
        d->stopListening();
    }
    if (!d->stackOn)
        return {EndpointError::SocketError, QStringLiteral("The network stack is switched off")};
    auto *server = new QTcpServer(this);
    if (!EndpointConnection::listen(*server, d->localAddress, quint16(d->localPort))) {
        const EndpointError failure = EndpointConnection::listenFailure(*server);
        delete server;
        return failure;
    }
    d->server = server;
    connect(server, &QTcpServer::newConnection, this, [this] { d->onNewConnection(); });
    connect(server, &QTcpServer::acceptError, this, [this, server](QAbstractSocket::SocketError e) {
        // The server pauses after a failed accept (out of descriptors, say); it tries again
        // a little later instead of going deaf for good.
        QTimer::singleShot(AcceptRetryMs, server, [server] { server->resumeAccepting(); });
        emit error(EndpointConnection::statusCode(e), server->errorString());
    });
    return {};
}

bool IPDaemon::isListening() const
{
    return d->server != nullptr;
}

QList<int> IPDaemon::connectionIds() const
{
    return d->live.keys();
}

bool IPDaemon::isConnected(int connectionId) const
{
    return d->live.contains(connectionId);
}

bool IPDaemon::isConnectionUp(int connectionId) const
{
    const EndpointConnection *connection = d->live.value(connectionId);
    return connection && !connection->peerHasLeft();
}

void IPDaemon::closeConnection(int connectionId)
{
    EndpointConnection *connection = d->live.take(connectionId);
    if (!connection)
        return;
    connection->close();
    // It may be delivering the very line whose handler closes it.
    connection->deleteLater();
    emit disconnected(connectionId, 0, QStringLiteral("Connection closed"));
}

QString IPDaemon::remoteAddress(int connectionId) const
{
    return d->peers.value(connectionId).address;
}

int IPDaemon::remotePort(int connectionId) const
{
    return d->peers.value(connectionId).port;
}

void IPDaemon::sendData(int connectionId, const QByteArray &text)
{
    const auto peer = d->peers.find(connectionId);
    if (peer == d->peers.end())
        return;
    EndpointConnection *connection = d->live.value(connectionId);
    peer->sentCount = connection ? connection->send(text) : 0;
}

qint64 IPDaemon::sentCount(int connectionId) const
{
    return d->peers.value(connectionId).sentCount;
}

qint64 IPDaemon::pendingOutput(int connectionId) const
{
    EndpointConnection *connection = d->live.value(connectionId);
    return connection ? connection->pendingOutput() : 0;
}

int IPDaemon::minRoundTripMs(int connectionId) const
{
    EndpointConnection *connection = d->live.value(connectionId);
    return connection ? connection->minRoundTripMs() : 0;
}

void IPDaemon::setLineEnd(int connectionId, const QByteArray &lineEnd)
{
    if (EndpointConnection *connection = d->live.value(connectionId))
        connection->setLineEnd(lineEnd);
}

QByteArray IPDaemon::lineEnd(int connectionId) const
{
    EndpointConnection *connection = d->live.value(connectionId);
    return connection ? connection->lineEnd() : QByteArray();
}

void IPDaemon::setDefaultLineEnd(const QByteArray &lineEnd)
{
    d->defaultLineEnd = lineEnd;
}

QByteArray IPDaemon::defaultLineEnd() const
{
    return d->defaultLineEnd;
}

void IPDaemon::setInputBufferSize(int bytes)
{
    d->inputBufferSize = std::clamp(bytes, 1, MaxBufferSize);
    for (EndpointConnection *connection : std::as_const(d->live))
        connection->setInputBufferSize(d->inputBufferSize);
}

int IPDaemon::inputBufferSize() const
{
    return d->inputBufferSize;
}

void IPDaemon::setOutputBufferSize(int bytes)
{
    d->outputBufferSize = std::clamp(bytes, 1, MaxBufferSize);
    for (EndpointConnection *connection : std::as_const(d->live))
        connection->setOutputBufferSize(d->outputBufferSize);
}

int IPDaemon::outputBufferSize() const
{
    return d->outputBufferSize;
}

void IPDaemon::takeConnection(QTcpSocket *socket, const ChannelSecurity &security)
{
    socket->setParent(this);
    if (!d->server) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    d->offer(socket, security);
}

ChannelSecurity IPDaemon::security(int connectionId) const
{
    return d->peers.value(connectionId).security;
}

void IPDaemon::setAdmission(std::function<bool(const ChannelSecurity &)> admission)
{
    d->admission = std::move(admission);
}

void IPDaemon::Impl::stopListening()
{
    if (!server)
        return;
    QTcpServer *old = server;
    server = nullptr;
    old->disconnect(q);
    old->close();
    // This may run inside the server's own signal.
    old->setParent(nullptr);
    old->deleteLater();
}

void IPDaemon::Impl::onNewConnection()
{
    QPointer<QTcpServer> source(server);
    while (source && source->hasPendingConnections()) {
        QTcpSocket *socket = source->nextPendingConnection();
        if (!socket)
            return;
        // Owned by the listener from now on, not by the server, which may stop first.
        socket->setParent(q);
        if (!offer(socket, {}))
            return;
    }
}

bool IPDaemon::Impl::offer(QTcpSocket *socket, const ChannelSecurity &security)
{
    QPointer<IPDaemon> self(q);
    bool accept = !admission || admission(security);
    if (accept)
        emit q->connectionRequest(EndpointConnection::dottedAddress(socket->peerAddress()), &accept);
    if (!self)
        return false;
    if (!accept || !stackOn) {
        socket->abort();
        socket->deleteLater();
        return true;
    }
    adopt(socket, security);
    return bool(self);
}

void IPDaemon::Impl::adopt(QTcpSocket *socket, const ChannelSecurity &security)
{
    int id = 1;
    while (live.contains(id))
        ++id;
    auto *connection = new EndpointConnection(socket, q);
    connection->setLineEnd(defaultLineEnd);
    connection->setInputBufferSize(inputBufferSize);
    connection->setOutputBufferSize(outputBufferSize);
    QObject::connect(connection, &EndpointConnection::dataIn, q,
                     [this, id](const QByteArray &text, bool eol) { emit q->dataIn(id, text, eol); });
    QObject::connect(connection, &EndpointConnection::drained, q,
                     [this, id] { emit q->readyToSend(id); });
    QObject::connect(connection, &EndpointConnection::closedByPeer, q,
                     [this, id, connection](int code, const QString &description) {
                         if (live.value(id) != connection)
                             return;
                         live.remove(id);
                         connection->deleteLater();
                         emit q->disconnected(id, code, description);
                     });
    live.insert(id, connection);
    peers.insert(id, Peer{connection->peerAddress(), connection->peerPort(), 0, security});

    QPointer<IPDaemon> self(q);
    QPointer<EndpointConnection> guard(connection);
    const auto stillOpen = [&] { return self && guard && guard->isOpen(); };
    emit q->connected(id, 0, QStringLiteral("Connected"));
    if (!stillOpen())
        return;
    emit q->readyToSend(id);
    if (!stillOpen())
        return;
    connection->readPending();
}
