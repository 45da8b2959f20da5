#pragma once

#include "core/ChannelSecurity.h"
#include "core/EndpointError.h"
#include "tls/TlsSetup.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class IPDaemon;
class QHostAddress;
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
// MaxHandshakesPerAddress of them from one source (an IPv4 address, an IPv6 /64). A new
// connection beyond its source's bound closes that source's oldest unfinished handshake.
// When all places are taken, the newcomer takes the place of a handshake older than
// MinHandshakeAgeMs from a source that has opened at least twice as many handshakes
// lately as its own; otherwise it is turned away. So a flood, from however many
// addresses, neither takes the place of a real caller's handshake before it can finish
// nor keeps a real caller, who opens few, out.
class SecureListener : public QObject
{
    Q_OBJECT

public:
    static constexpr int HandshakeMs = 5000;
    static constexpr int MaxHandshakes = 32;
    static constexpr int MaxHandshakesPerAddress = 8;
    // A handshake this young keeps its place: a real one over a long path needs a few
    // round trips.
    static constexpr int MinHandshakeAgeMs = 1000;
    // How fast a source's count of recent handshakes fades: halved every this long.
    static constexpr int LoadHalfLifeMs = 10000;
    // Sources whose recent count is kept, at most (quiet ones are forgotten first).
    static constexpr int MaxLoadSources = 4096;

    // `credentials` gives this program's side of each handshake when it starts.
    explicit SecureListener(std::function<TlsSetup::Credentials()> credentials, QObject *parent = nullptr);
    ~SecureListener() override;

    // Encrypted connections for `channel` go to `listener`.
    void route(PeerChannel channel, IPDaemon &listener);
    // Whether the media channel may agree on today's picture and sound formats; asked at
    // each handshake (unset: never).
    void setCurrentFormats(std::function<bool()> offered) { m_currentFormats = std::move(offered); }
    // Listens on every IPv4 interface, like the plain listeners.
    EndpointError listen(int port);
    void close();
    // A connection that came over a path found between two routers (a local socket whose
    // other end carries it), from the peer at `peer`: it goes through the same handshake,
    // limits and routing as one that came to the port. False when the socket is unusable.
    bool adopt(int descriptor, const QHostAddress &peer);
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
        // What limits count it by (see EndpointConnection::sourceOf).
        QString source;
        quint64 order = 0;
        QTimer *deadline = nullptr;
        qint64 startedMs = 0;
    };
    // How many handshakes a source has opened lately, fading with time.
    struct Load
    {
        double count = 0;
        qint64 atMs = 0;
    };

    void incoming(qintptr descriptor);
    void handshake(QSslSocket *socket);
    void finished(QSslSocket *socket);
    // Takes the handshake off the list; false when it was not on it.
    bool forget(QSslSocket *socket, QString *address);
    void drop(QSslSocket *socket, const QString &why);
    // The oldest handshake of a source (see EndpointConnection::sourceOf), or of all.
    void dropOldest(const QString &source, const QString &why);
    // Counts a new handshake of the source; its recent count with it.
    double countHandshake(const QString &source);
    double loadOf(const QString &source) const;
    // Makes a place for a newcomer whose source has this recent count; false when no
    // handshake may give its place.
    bool makeRoomFor(double newcomerLoad);

    std::function<TlsSetup::Credentials()> m_credentials;
    std::function<bool()> m_currentFormats;
    QHash<PeerChannel, IPDaemon *> m_routes;
    Server *m_server = nullptr;
    QHash<QSslSocket *, Handshake> m_handshakes;
    quint64 m_order = 0;
    QHash<QString, Load> m_loads;
    QElapsedTimer m_clock;
    int m_handshakeMs = HandshakeMs;
};
