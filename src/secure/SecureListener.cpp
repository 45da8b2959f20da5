#include "secure/SecureListener.h"

#include "secure/BridgedSocket.h"

#include "core/EndpointConnection.h"
#include "core/IPDaemon.h"

#include <QHostAddress>
#include <QPointer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>

#include <cmath>

#include <unistd.h>

class SecureListener::Server : public QTcpServer
{
public:
    explicit Server(SecureListener *owner) : QTcpServer(owner), m_owner(owner) {}

protected:
    // The connection becomes an encrypted socket before anything is read from it.
    void incomingConnection(qintptr descriptor) override { m_owner->incoming(descriptor); }

private:
    SecureListener *m_owner;
};

SecureListener::SecureListener(std::function<TlsSetup::Credentials()> credentials, QObject *parent)
    : QObject(parent)
    , m_credentials(std::move(credentials))
{
}

SecureListener::~SecureListener()
{
    close();
}

void SecureListener::route(PeerChannel channel, IPDaemon &listener)
{
    m_routes.insert(channel, &listener);
}

EndpointError SecureListener::listen(int port)
{
    close();
    auto *server = new Server(this);
    if (!EndpointConnection::listen(*server, QHostAddress(QHostAddress::Any), quint16(port))) {
        const EndpointError failure = EndpointConnection::listenFailure(*server);
        delete server;
        return failure;
    }
    m_server = server;
    return {};
}

void SecureListener::close()
{
    if (m_server) {
        m_server->close();
        m_server->deleteLater();
        m_server = nullptr;
    }
    const QList<QSslSocket *> underway = m_handshakes.keys();
    for (QSslSocket *socket : underway)
        drop(socket, QStringLiteral("the listener closed"));
}

bool SecureListener::isListening() const
{
    return m_server != nullptr;
}

int SecureListener::port() const
{
    return m_server ? int(m_server->serverPort()) : 0;
}

void SecureListener::incoming(qintptr descriptor)
{
    auto *socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(int(descriptor));
        delete socket;
        return;
    }
    TlsSetup::sendAtOnce(*socket);
    handshake(socket);
}

bool SecureListener::adopt(int descriptor, const QHostAddress &peer)
{
    auto *socket = new BridgedSocket(this);
    if (!socket->adopt(descriptor, peer, 0)) {
        delete socket;
        return false;
    }
    handshake(socket);
    return true;
}

void SecureListener::handshake(QSslSocket *socket)
{
    const QString address = EndpointConnection::dottedAddress(socket->peerAddress());
    const TlsSetup::Credentials own = m_credentials();
    if (own.isNull() || m_routes.isEmpty()) {
        socket->abort();
        socket->deleteLater();
        emit turnedAway(address, QStringLiteral("no key to answer with"));
        return;
    }
    // Room for the newcomer: its own source's oldest handshake goes, or, when every place
    // is taken, one of a source busier than its own. One subscriber's IPv6 addresses
    // count as one.
    const QString source = EndpointConnection::sourceOf(address);
    const double load = countHandshake(source);
    int fromAddress = 0;
    for (const Handshake &h : std::as_const(m_handshakes))
        fromAddress += h.source == source ? 1 : 0;
    if (fromAddress >= MaxHandshakesPerAddress) {
        dropOldest(source, QStringLiteral("too many handshakes from one address"));
    } else if (m_handshakes.size() >= MaxHandshakes && !makeRoomFor(load)) {
        socket->abort();
        socket->deleteLater();
        emit turnedAway(address, QStringLiteral("too many handshakes"));
        return;
    }

    auto *deadline = new QTimer(this);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, this,
            [this, socket] { drop(socket, QStringLiteral("the handshake took too long")); });
    deadline->start(m_handshakeMs);
    m_handshakes.insert(socket, Handshake{address, source, ++m_order, deadline, m_clock.elapsed()});
    socket->setSslConfiguration(TlsSetup::configuration(own, m_routes.keys(), m_currentFormats && m_currentFormats()));
    connect(socket, &QSslSocket::encrypted, this, [this, socket] { finished(socket); });
    connect(socket, &QAbstractSocket::errorOccurred, this, [this, socket] {
        drop(socket, socket->errorString());
    });
    connect(socket, &QAbstractSocket::disconnected, this, [this, socket] {
        drop(socket, QStringLiteral("closed during the handshake"));
    });
    socket->startServerEncryption();
}

void SecureListener::finished(QSslSocket *socket)
{
    if (!m_handshakes.contains(socket))
        return;
    const std::optional<PeerChannel> channel = TlsSetup::agreedChannel(*socket);
    IPDaemon *listener = channel ? m_routes.value(*channel) : nullptr;
    const ChannelSecurity security = TlsSetup::securityOf(*socket, m_credentials().fingerprint);
    if (!listener) {
        drop(socket, QStringLiteral("no channel agreed"));
        return;
    }
    if (!security.encrypted()) {
        drop(socket, QStringLiteral("no certificate shown"));
        return;
    }
    QString address;
    forget(socket, &address);
    emit handedOver(*channel, address);
    listener->takeConnection(socket, security);
}

bool SecureListener::forget(QSslSocket *socket, QString *address)
{
    const auto it = m_handshakes.find(socket);
    if (it == m_handshakes.end())
        return false;
    *address = it->address;
    it->deadline->stop();
    it->deadline->deleteLater();
    m_handshakes.erase(it);
    socket->disconnect(this);
    return true;
}

void SecureListener::drop(QSslSocket *socket, const QString &why)
{
    QString address;
    if (!forget(socket, &address))
        return;
    socket->abort();
    // This may run inside one of the socket's own signals.
    socket->deleteLater();
    emit turnedAway(address, why);
}

void SecureListener::dropOldest(const QString &source, const QString &why)
{
    QSslSocket *oldest = nullptr;
    quint64 order = 0;
    for (auto it = m_handshakes.cbegin(); it != m_handshakes.cend(); ++it) {
        if (!source.isEmpty() && it->source != source)
            continue;
        if (!oldest || it->order < order) {
            oldest = it.key();
            order = it->order;
        }
    }
    if (oldest)
        drop(oldest, why);
}

double SecureListener::loadOf(const QString &source) const
{
    const auto it = m_loads.constFind(source);
    if (it == m_loads.cend())
        return 0;
    return it->count * std::exp2(-double(m_clock.elapsed() - it->atMs) / LoadHalfLifeMs);
}

double SecureListener::countHandshake(const QString &source)
{
    if (!m_clock.isValid())
        m_clock.start();
    const double count = loadOf(source) + 1;
    m_loads.insert(source, Load{count, m_clock.elapsed()});
    // The table forgets sources that have been quiet, so it stays small.
    if (m_loads.size() > MaxLoadSources) {
        for (auto it = m_loads.begin(); it != m_loads.end();) {
            if (loadOf(it.key()) < 1 && it.key() != source)
                it = m_loads.erase(it);
            else
                ++it;
        }
        // Still too many busy sources: start counting afresh rather than grow.
        if (m_loads.size() > MaxLoadSources) {
            m_loads.clear();
            m_loads.insert(source, Load{count, m_clock.elapsed()});
        }
    }
    return count;
}

bool SecureListener::makeRoomFor(double newcomerLoad)
{
    // The place of the busiest source's oldest handshake that has had its time.
    const qint64 now = m_clock.elapsed();
    QSslSocket *victim = nullptr;
    double victimLoad = 0;
    quint64 victimOrder = 0;
    QHash<QString, double> loads;
    for (auto it = m_handshakes.cbegin(); it != m_handshakes.cend(); ++it) {
        if (now - it->startedMs < MinHandshakeAgeMs)
            continue;
        auto known = loads.constFind(it->source);
        if (known == loads.cend())
            known = loads.insert(it->source, loadOf(it->source));
        if (!victim || *known > victimLoad || (*known == victimLoad && it->order < victimOrder)) {
            victim = it.key();
            victimLoad = *known;
            victimOrder = it->order;
        }
    }
    if (!victim || victimLoad < 2 * newcomerLoad)
        return false;
    drop(victim, QStringLiteral("too many handshakes"));
    return true;
}
