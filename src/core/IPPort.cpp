#include "core/IPPort.h"

#include "core/ChannelDialer.h"
#include "core/EndpointConnection.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace {

constexpr int MaxBufferSize = 16 * 1024 * 1024;

// Some interface other than loopback is up and has an address.
bool networkIsUp()
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    return std::any_of(interfaces.begin(), interfaces.end(), [](const QNetworkInterface &i) {
        return (i.flags() & QNetworkInterface::IsUp) && !(i.flags() & QNetworkInterface::IsLoopBack)
               && !i.addressEntries().isEmpty();
    });
}

} // namespace

struct IPPort::Impl
{
    // Failing: the attempt has failed and its Connected event is on its way.
    enum class State { Idle, Connecting, Failing, Connected };

    explicit Impl(IPPort *owner) : q(owner) {}

    void adopt(QTcpSocket *socket);
    void connectPlain(quint64 attempt);
    void dialed(quint64 attempt, ChannelDialer::Outcome outcome);
    void fail(quint64 attempt, int code, const QString &description);
    void dropAttempt();
    void dropSocket();

    IPPort *q;
    State state = State::Idle;
    bool stackOn = true;
    QHostAddress address;
    int port = 0;
    QByteArray lineEnd;
    int inputBufferSize = DefaultInputBufferSize;
    int outputBufferSize = DefaultOutputBufferSize;
    int connectTimeoutMs = DefaultConnectTimeoutMs;
    qint64 sentCount = 0;
    QTcpSocket *attemptSocket = nullptr;
    QTimer *attemptTimer = nullptr;
    quint64 attempt = 0;
    EndpointConnection *connection = nullptr;
    ChannelDialer *dialer = nullptr;
    PeerChannel channel = PeerChannel::Control;
    // The dialer's attempt under way; deleting it cancels it.
    std::unique_ptr<QObject> dialAttempt;
    ChannelSecurity security;
};

IPPort::IPPort(QObject *parent)
    : QObject(parent)
    , d(new Impl(this))
{
    d->attemptTimer = new QTimer(this);
    d->attemptTimer->setSingleShot(true);
    connect(d->attemptTimer, &QTimer::timeout, this, [this] {
        if (d->state != Impl::State::Connecting)
            return;
        d->dropAttempt();
        emit connected(EndpointError::TimedOut, QStringLiteral("Connection timed out"));
    });
}

IPPort::~IPPort()
{
    d->dropAttempt();
    delete d->connection;
    delete d;
}

EndpointError IPPort::setStackOn(bool on)
{
    if (!on)
        setConnected(false);
    d->stackOn = on;
    return {};
}

bool IPPort::stackOn() const
{
    return d->stackOn;
}

QString IPPort::localAddress() const
{
    // Connected, this host's address is the one the connection uses; otherwise its name.
    if (d->connection) {
        const QString address = d->connection->localAddress();
        if (!address.isEmpty())
            return address;
    }
    return QHostInfo::localHostName();
}

EndpointError IPPort::setRemoteAddress(const QString &host)
{
    d->address.clear();
    const QString name = host.trimmed();
    if (name.isEmpty())
        return {EndpointError::HostNotFound, QStringLiteral("No host address given")};
    QHostAddress numeric;
    if (numeric.setAddress(name)) {
        d->address = numeric;
        return {};
    }
    // Names the machine knows itself (localhost, /etc/hosts) resolve without a network.
    const QHostInfo info = QHostInfo::fromName(name);
    const QList<QHostAddress> found = info.addresses();
    if (info.error() != QHostInfo::NoError || found.isEmpty()) {
        if (!networkIsUp())
            return {EndpointError::NoNetwork, QStringLiteral("The network is down")};
        const QString why = info.error() != QHostInfo::NoError ? info.errorString()
                                                               : QStringLiteral("Host not found");
        return {EndpointError::HostNotFound, why};
    }
    // Listeners take IPv4, so an IPv4 address is preferred when the name has both kinds.
    const auto v4 = std::find_if(found.begin(), found.end(), [](const QHostAddress &a) {
        return a.protocol() == QAbstractSocket::IPv4Protocol;
    });
    d->address = v4 != found.end() ? *v4 : found.first();
    return {};
}

QString IPPort::remoteAddress() const
{
    return d->address.isNull() ? QString() : EndpointConnection::dottedAddress(d->address);
}

EndpointError IPPort::setRemotePort(int port)
{
    if (port < 1 || port > 65535)
        return {EndpointError::InvalidArgument, QStringLiteral("Port must be between 1 and 65535")};
    d->port = port;
    return {};
}

int IPPort::remotePort() const
{
    return d->port;
}

EndpointError IPPort::setConnected(bool connect)
{
    if (!connect) {
        switch (d->state) {
        case Impl::State::Idle:
            return {};
        case Impl::State::Connecting:
        case Impl::State::Failing:
            // An abandoned attempt ends silently.
            d->dropAttempt();
            return {};
        case Impl::State::Connected: {
            EndpointConnection *connection = d->connection;
            d->connection = nullptr;
            d->state = Impl::State::Idle;
            connection->close();
            connection->deleteLater();
            emit disconnected(0, QStringLiteral("Connection closed"));
            return {};
        }
        }
        return {};
    }
    if (d->state != Impl::State::Idle)
        return {};
    if (!d->stackOn)
        return {EndpointError::SocketError, QStringLiteral("The network stack is switched off")};
    if (d->address.isNull())
        return {EndpointError::HostNotFound, QStringLiteral("No remote address has been set")};
    if (d->port == 0)
        return {EndpointError::InvalidArgument, QStringLiteral("No remote port has been set")};

    d->state = Impl::State::Connecting;
    d->security = {};
    const quint64 attempt = ++d->attempt;
    d->attemptTimer->start(d->connectTimeoutMs);
    if (d->dialer) {
        d->dialAttempt = d->dialer->dial(d->address, d->port, d->channel,
                                         [this, attempt](ChannelDialer::Outcome outcome) {
                                             d->dialed(attempt, std::move(outcome));
                                         });
        return {};
    }
    d->connectPlain(attempt);
    return {};
}

bool IPPort::isConnected() const
{
    return d->state == Impl::State::Connected;
}

void IPPort::sendData(const QByteArray &text)
{
    d->sentCount = d->state == Impl::State::Connected ? d->connection->send(text) : 0;
}

qint64 IPPort::sentCount() const
{
    return d->sentCount;
}

qint64 IPPort::pendingOutput() const
{
    return d->state == Impl::State::Connected && d->connection ? d->connection->pendingOutput() : 0;
}

int IPPort::minRoundTripMs() const
{
    return d->state == Impl::State::Connected && d->connection ? d->connection->minRoundTripMs() : 0;
}

void IPPort::setLineEnd(const QByteArray &lineEnd)
{
    d->lineEnd = lineEnd;
    if (d->connection)
        d->connection->setLineEnd(lineEnd);
}

QByteArray IPPort::lineEnd() const
{
    return d->lineEnd;
}

void IPPort::setInputBufferSize(int bytes)
{
    d->inputBufferSize = std::clamp(bytes, 1, MaxBufferSize);
    if (d->connection)
        d->connection->setInputBufferSize(d->inputBufferSize);
}

int IPPort::inputBufferSize() const
{
    return d->inputBufferSize;
}

void IPPort::setOutputBufferSize(int bytes)
{
    d->outputBufferSize = std::clamp(bytes, 1, MaxBufferSize);
    if (d->connection)
        d->connection->setOutputBufferSize(d->outputBufferSize);
}

int IPPort::outputBufferSize() const
{
    return d->outputBufferSize;
}

void IPPort::setConnectTimeout(int milliseconds)
{
    d->connectTimeoutMs = milliseconds > 0 ? milliseconds : DefaultConnectTimeoutMs;
}

void IPPort::setDialer(ChannelDialer *dialer, PeerChannel channel)
{
    d->dialer = dialer;
    d->channel = channel;
}

ChannelSecurity IPPort::security() const
{
    return d->security;
}

void IPPort::Impl::connectPlain(quint64 attempt)
{
    auto *socket = new QTcpSocket(q);
    attemptSocket = socket;
    QObject::connect(socket, &QAbstractSocket::connected, q, [this, socket] { adopt(socket); });
    QObject::connect(socket, &QAbstractSocket::errorOccurred, q,
                     [this, socket, attempt](QAbstractSocket::SocketError error) {
                         if (attemptSocket != socket)
                             return;
                         const int code = EndpointConnection::statusCode(error);
                         const QString description = socket->errorString();
                         dropSocket();
                         // The failure may come while connectToHost() is still running.
                         fail(attempt, code, description);
                     });
    socket->connectToHost(address, quint16(port));
}

void IPPort::Impl::dialed(quint64 attempt, ChannelDialer::Outcome outcome)
{
    if (this->attempt != attempt || state != State::Connecting) {
        if (outcome.socket) {
            outcome.socket->abort();
            outcome.socket->deleteLater();
        }
        return;
    }
    // The callback runs inside the attempt: it goes once control is back in the loop.
    if (dialAttempt)
        dialAttempt.release()->deleteLater();
    security = outcome.security;
    switch (outcome.kind) {
    case ChannelDialer::Outcome::Kind::Encrypted:
        outcome.socket->setParent(q);
        attemptSocket = outcome.socket;
        adopt(outcome.socket);
        return;
    case ChannelDialer::Outcome::Kind::Plain:
        connectPlain(attempt);
        return;
    case ChannelDialer::Outcome::Kind::Refused:
        attemptTimer->stop();
        fail(attempt, outcome.code, outcome.description);
        return;
    }
}

// The attempt has failed: its Connected event comes from the event loop.
void IPPort::Impl::fail(quint64 attempt, int code, const QString &description)
{
    state = State::Failing;
    QMetaObject::invokeMethod(
        q,
        [this, attempt, code, description] {
            if (this->attempt != attempt || state != State::Failing)
                return;
            state = State::Idle;
            emit q->connected(code, description);
        },
        Qt::QueuedConnection);
}

void IPPort::Impl::adopt(QTcpSocket *socket)
{
    if (attemptSocket != socket)
        return;
    attemptTimer->stop();
    attemptSocket = nullptr;
    socket->disconnect(q);

    auto *connection = new EndpointConnection(socket, q);
    connection->setLineEnd(lineEnd);
    connection->setInputBufferSize(inputBufferSize);
    connection->setOutputBufferSize(outputBufferSize);
    QObject::connect(connection, &EndpointConnection::dataIn, q, &IPPort::dataIn);
    QObject::connect(connection, &EndpointConnection::drained, q, &IPPort::readyToSend);
    QObject::connect(connection, &EndpointConnection::closedByPeer, q,
                     [this, connection](int code, const QString &description) {
                         if (this->connection != connection)
                             return;
                         this->connection = nullptr;
                         state = State::Idle;
                         connection->deleteLater();
                         emit q->disconnected(code, description);
                     });
    this->connection = connection;
    state = State::Connected;
    sentCount = 0;

    QPointer<IPPort> self(q);
    QPointer<EndpointConnection> guard(connection);
    const auto stillOpen = [&] { return self && guard && guard->isOpen(); };
    emit q->connected(0, QStringLiteral("Connected"));
    if (!stillOpen())
        return;
    emit q->readyToSend();
    if (!stillOpen())
        return;
    connection->readPending();
}

// Ends the attempt under way without an event.
void IPPort::Impl::dropAttempt()
{
    attemptTimer->stop();
    ++attempt;
    // Deleting the dialer's attempt cancels it. One that called back has been let go
    // already, so this never deletes the attempt whose callback is running.
    dialAttempt.reset();
    dropSocket();
    if (state == State::Connecting || state == State::Failing)
        state = State::Idle;
}

void IPPort::Impl::dropSocket()
{
    attemptTimer->stop();
    QTcpSocket *socket = attemptSocket;
    if (!socket)
        return;
    attemptSocket = nullptr;
    socket->disconnect(q);
    // This may run inside one of the socket's own signals.
    socket->setParent(nullptr);
    socket->abort();
    socket->deleteLater();
}
