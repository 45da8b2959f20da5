#pragma once

#include "core/ChannelSecurity.h"
#include "core/EndpointError.h"
#include "secure/TlsSetup.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class IPDaemon;
class QSslSocket;
class QTcpServer;
class QTimer;

// The encrypted port: one listener for all four channels. Each connection first finishes a
// TLS handshake that names its channel; it is then handed to that channel's listener as if
// it had come to the plain port, with what the handshake proved about the peer.
//
// Nothing that is not a whole, timely handshake gets further: garbage, plain protocol text
// and unknown channels are closed as soon as the TLS layer gives up, and a handshake that
// has not finished after HandshakeMs is closed. At most MaxHandshakes are under way at once,
// MaxHandshakesPerAddress of them from one address; a new connection beyond either bound
// closes the oldest unfinished one, so a flood cannot keep a real caller out for longer
// than a handshake takes.
class SecureListener : public QObject
{
    Q_OBJECT

public:
    static constexpr int HandshakeMs = 5000;
    static constexpr int MaxHandshakes = 32;
    static constexpr int MaxHandshakesPerAddress = 8;

    // `credentials` gives this program's side of each handshake when it starts.
    explicit SecureListener(std::function<TlsSetup::Credentials()> credentials, QObject *parent = nullptr);
    ~SecureListener() override;

    // Encrypted connections for `channel` go to `listener`.
    void route(PeerChannel channel, IPDaemon &listener);
    // Listens on every IPv4 interface, like the plain listeners.
    EndpointError listen(int port);
    void close();
    bool isListening() const;
    int port() const;
    int handshakesUnderway() const { return int(m_handshakes.size()); }
    // Tests shorten the handshake's time limit.
    void setHandshakeTime(int ms) { m_handshakeMs = ms; }

signals:
    // A connection was closed before it became a channel's.
    void turnedAway(const QString &address, const QString &why);
    void handedOver(PeerChannel channel, const QString &address);

private:
    class Server;
    struct Handshake
    {
        QString address;
        quint64 order = 0;
        QTimer *deadline = nullptr;
    };

    void incoming(qintptr descriptor);
    void finished(QSslSocket *socket);
    // Takes the handshake off the list; false when it was not on it.
    bool forget(QSslSocket *socket, QString *address);
    void drop(QSslSocket *socket, const QString &why);
    // The oldest handshake of a source (see EndpointConnection::sourceOf), or of all.
    void dropOldest(const QString &source, const QString &why);

    std::function<TlsSetup::Credentials()> m_credentials;
    QHash<PeerChannel, IPDaemon *> m_routes;
    Server *m_server = nullptr;
    QHash<QSslSocket *, Handshake> m_handshakes;
    quint64 m_order = 0;
    int m_handshakeMs = HandshakeMs;
};
