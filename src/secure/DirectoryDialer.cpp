#include "secure/DirectoryDialer.h"

#include "core/EndpointConnection.h"
#include "core/EndpointError.h"
#include "core/PeerChannel.h"
#include "secure/DialAttempt.h"

#include <QHostAddress>
#include <QSslSocket>
#include <QTimer>

// One try at TLS, first on the server's encrypted port (PortPlan::encrypted of the
// published port); reports once, from the event loop. A server that speaks only the
// published protocol has nothing listening there and refuses at once, so it is spoken to in
// the clear without delay and never sees a byte it does not know. A server already pinned
// is also tried with TLS on its published port, where servers of the previous release took
// it; it is never spoken to in the clear.
class DirectoryDialer::Attempt : public DialAttempt
{
public:
    Attempt(DirectoryDialer *owner, QString address, QByteArray pinned, std::function<void(Outcome)> done)
        : m_owner(owner)
        , m_address(std::move(address))
        , m_pinned(std::move(pinned))
        , m_done(std::move(done))
    {
    }

    void start(const QHostAddress &address, int port, const TlsSetup::Credentials &own)
    {
        m_host = address;
        m_port = port;
        m_credentials = own;
        tryAt(PortPlan::encrypted(port));
    }

private:
    void tryAt(int port)
    {
        m_triedPublished = port == m_port;
        if (m_socket) {
            m_socket->disconnect(this);
            m_socket->abort();
            m_socket->deleteLater();
        }
        if (m_timer)
            m_timer->deleteLater();
        prepare(m_credentials, {});
        connect(m_timer, &QTimer::timeout, this, [this] { failed(); });
        connect(m_socket, &QAbstractSocket::connected, this, [this] {
            TlsSetup::sendAtOnce(*m_socket);
            m_timer->start(HandshakeMs);
            m_socket->startClientEncryption();
        });
        // The server's certificate is judged by its key (or its authority) once the
        // handshake is done.
        connect(m_socket, &QSslSocket::sslErrors, m_socket, [this] { m_socket->ignoreSslErrors(); });
        connect(m_socket, &QSslSocket::encrypted, this, [this] { secured(); });
        connect(m_socket, &QAbstractSocket::errorOccurred, this, [this] { failed(); });
        connect(m_socket, &QAbstractSocket::disconnected, this, [this] { failed(); });
        // A port that drops what comes to it is not waited for long.
        m_timer->start(ConnectMs);
        m_socket->connectToHost(m_host, quint16(port));
    }

    void secured()
    {
        const ChannelSecurity security = this->security();
        if (!security.encrypted()) {
            failed();
            return;
        }
        const bool vouched = [&] {
            const QString name = m_owner->m_context.hostName ? m_owner->m_context.hostName() : QString();
            const QList<QSslCertificate> chain = m_socket->peerCertificateChain();
            return !name.isEmpty() && !chain.isEmpty() && QSslCertificate::verify(chain, name).isEmpty();
        }();
        if (!m_pinned.isEmpty() && security.peerKey != m_pinned && !vouched) {
            m_owner->m_offered.insert(m_address, security.peerKey);
            emit m_owner->keyChanged(m_address, m_pinned, security.peerKey);
            emit m_owner->blocked(keyChangedText(m_address), true);
            conclude({Outcome::Kind::Refused, nullptr, {}, EndpointError::SocketError, keyChangedText(m_address)});
            return;
        }
        m_owner->finish(m_address, security.peerKey, true);
        conclude(handOver(security));
    }

    void failed()
    {
        if (concluded())
            return;
        if (!m_pinned.isEmpty()) {
            if (!m_triedPublished) {
                // Deferred: the socket that failed is still in its own signal.
                m_socket->disconnect(this);
                m_timer->stop();
                QTimer::singleShot(0, this, [this] {
                    if (!concluded())
                        tryAt(m_port);
                });
                return;
            }
            emit m_owner->blocked(noLongerEncryptedText(m_address), false);
            conclude({Outcome::Kind::Refused, nullptr, {}, EndpointError::SocketError,
                      noLongerEncryptedText(m_address)});
            return;
        }
        m_owner->finish(m_address, {}, false);
        Outcome plain;
        plain.kind = Outcome::Kind::Plain;
        conclude(plain);
    }

    void report(Outcome outcome) override { m_done(std::move(outcome)); }

    DirectoryDialer *m_owner;
    QString m_address;
    QByteArray m_pinned;
    std::function<void(Outcome)> m_done;
    QHostAddress m_host;
    int m_port = 0;
    TlsSetup::Credentials m_credentials;
    bool m_triedPublished = false;
};

DirectoryDialer::DirectoryDialer(Context context, QObject *parent)
    : QObject(parent)
    , m_context(std::move(context))
{
}

std::unique_ptr<QObject> DirectoryDialer::dial(const QHostAddress &address, int port, PeerChannel,
                                               std::function<void(Outcome)> done)
{
    // Each server port is pinned on its own: several servers, each with its own key, may
    // share a host.
    const QString dotted = EndpointConnection::dottedAddress(address) + QLatin1Char(':') + QString::number(port);
    const QByteArray pinned = m_context.pinnedKey ? m_context.pinnedKey(dotted) : QByteArray();
    const TlsSetup::Credentials own = m_context.credentials ? m_context.credentials() : TlsSetup::Credentials();
    auto attempt = std::make_unique<Attempt>(this, dotted, pinned, std::move(done));
    if (own.isNull()) {
        // Without a key of its own (the key file could not be made) the program cannot
        // prove anything: a pinned server is still not spoken to in the clear.
        attempt->decide(pinned.isEmpty() ? Outcome{Outcome::Kind::Plain, nullptr, {}, 0, {}}
                                         : Outcome{Outcome::Kind::Refused, nullptr, {}, EndpointError::SocketError,
                                                   noLongerEncryptedText(dotted)});
    } else {
        attempt->start(address, port, own);
    }
    return attempt;
}

void DirectoryDialer::finish(const QString &address, const QByteArray &key, bool encrypted)
{
    if (encrypted) {
        m_offered.remove(address);
        if (m_context.pin && (!m_context.pinnedKey || m_context.pinnedKey(address) != key))
            m_context.pin(address, key);
    }
    emit privacyKnown(encrypted);
}

void DirectoryDialer::acceptOfferedKeys()
{
    for (auto it = m_offered.cbegin(); it != m_offered.cend(); ++it) {
        if (m_context.pin)
            m_context.pin(it.key(), it.value());
    }
    m_offered.clear();
}

QString DirectoryDialer::keyChangedText(const QString &address)
{
    return tr("The key of the directory server at %1 has changed: nothing was sent. Accept the new key only if its "
              "operator changed it.")
        .arg(address);
}

QString DirectoryDialer::noLongerEncryptedText(const QString &address)
{
    return tr("The directory server at %1 did not answer encrypted as before: nothing was sent.")
        .arg(address);
}

QString DirectoryDialer::pinName(const QString &address)
{
    return QStringLiteral("directory:") + address;
}
