#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QVector>

#include <deque>
#include <memory>
#include <vector>

#include <sys/types.h>

class QSocketNotifier;
class QTimer;
class TlsContext;
class TlsStream;

// Every client connection of the server, on one epoll set that a single socket notifier
// watches from the Qt event loop. Ten thousand idle connections then cost nothing per
// turn of the loop, and a connection costs a slot and its buffers rather than a socket
// object with notifiers of its own.
//
// A connection is known by a Handle that is never reused: an answer that comes back from
// the registry after its client has gone cannot reach the next client on the same slot.
// Lines are cut at the terminator; a line that outgrows the bound without one is
// reported, and output is bounded so a client that never reads cannot grow memory.
// Each connection has a few lines handed over at a turn, then the others get theirs:
// a client sending thousands of questions at once waits its turn like everyone else.
//
// A channel may also take TLS, on a port of its own where every connection is encrypted,
// and on the published port, where a connection whose first byte opens a TLS handshake
// record (the published requests all start with a letter) is encrypted. Either way it is
// served on the same epoll set, with one TLS set-up shared by all, and its lines then come
// and go with the same bounds, turns and handles as a plain connection.
class ConnectionPool : public QObject
{
    Q_OBJECT

public:
    using Handle = quint64;

    struct Limits
    {
        QByteArray terminator = "\n";
        // The longest line without its terminator.
        int maxLineBytes = 4096;
        // The same on an encrypted connection, whose clients may send longer messages;
        // 0: maxLineBytes.
        int maxEncryptedLineBytes = 0;
        // Unsent answers beyond this close the connection.
        int maxPendingOutput = 1024 * 1024;
        // Connections beyond this are closed as soon as they are accepted.
        int maxConnections = 1000;
        // Connections from one source (see sourceOf) beyond this are closed as soon as
        // they are accepted; 0: no limit.
        int maxPerSource = 0;
        // TLS handshakes under way at once, and from one source: each holds tens of kB
        // until it finishes. A newcomer beyond its source's share closes that source's
        // oldest handshake; beyond the whole, the oldest handshake that has had
        // MinHandshakeAgeMs to finish, or else the newcomer. 0: no limit.
        int maxHandshakes = 256;
        int maxHandshakesPerSource = 8;
        // A handshake not finished within this is closed.
        int handshakeMs = 10000;
    };
    // A handshake this young keeps its place: a real one over a long path needs a few
    // round trips.
    static constexpr int MinHandshakeAgeMs = 1000;
    // Why a connection was turned away as soon as it was accepted.
    enum class Refusal { Full, SourceFull };
    // How long a closed connection may take to hand over what was queued for it.
    static constexpr int LingerMs = 10000;

    explicit ConnectionPool(Limits limits, QObject *parent = nullptr);
    ~ConnectionPool() override;

    // Listens on a numeric address (empty: every IPv4 interface) for connections that are
    // then marked with the channel number (0 to 7). False with a reason.
    bool listen(int channel, const QString &address, int port, QString *error);
    // The same for a port where every connection of the channel is encrypted (after
    // acceptTls for the channel): a client that speaks only the published texts never
    // comes there.
    bool listenEncrypted(int channel, const QString &address, int port, QString *error);
    int localPort(int channel) const;
    void stopListening();
    // Closes every connection at once, without the linger.
    void closeAll();

    // Connections of the channel that open with a TLS record are served encrypted with this
    // server set-up; the others as before.
    void acceptTls(int channel, std::shared_ptr<const TlsContext> context);
    // The fingerprint of the key the client proved in its handshake: empty for a plain
    // connection, one without a client certificate, or one still shaking hands.
    QByteArray peerKey(Handle handle) const;
    bool isEncrypted(Handle handle) const;

    void setMaxConnections(int count) { m_limits.maxConnections = count; }
    void setMaxPerSource(int count) { m_limits.maxPerSource = count; }
    const Limits &limits() const { return m_limits; }

    bool isOpen(Handle handle) const { return slotOf(handle) != nullptr; }
    int channel(Handle handle) const;
    // The peer's address as dotted digits; kept until the handle's slot is reused.
    QString peerAddress(Handle handle) const;
    // This host's address that the peer connected to, likewise.
    QString localAddress(Handle handle) const;
    // What limits per peer count by: an IPv4 address, or the /64 network of an IPv6 one
    // (one host is given a whole /64).
    static QString sourceOf(const QString &address);
    // Connections open or still closing from the source.
    int countFrom(const QString &source) const { return m_perSource.value(source); }
    int count() const { return m_open; }
    int count(int channel) const;
    QVector<Handle> handles(int channel) const;

    // Queues the text for the connection. A client with more than maxPendingOutput still
    // unsent is not reading: it is closed (and closed() raised) and false returned.
    bool send(Handle handle, const QByteArray &text);
    // Stops reading, lets what is queued go out, then closes. closed() is raised at once.
    void close(Handle handle);
    // Hands over no further lines of the connection, and reads nothing more from it, until
    // resumed: a client whose answers are still awaited waits with its next questions in
    // its own socket, not in this process.
    void pauseReading(Handle handle);
    void resumeReading(Handle handle);

signals:
    void opened(ConnectionPool::Handle handle);
    // One complete line, without its terminator. A handler may send or close.
    void line(ConnectionPool::Handle handle, const QByteArray &text);
    // The client sent more than its line bound without a terminator.
    void lineTooLong(ConnectionPool::Handle handle);
    // Closed by the peer, by an error or by close(); raised once per handle.
    void closed(ConnectionPool::Handle handle, int channel);
    // A TLS handshake finished; peerKey() now tells the client's key.
    void secured(ConnectionPool::Handle handle);
    // A TLS handshake failed (garbage after the first byte, a bad certificate).
    void tlsFailed(ConnectionPool::Handle handle, const QString &why);
    // A connection was turned away because the pool, or its source's share, was full.
    void refused(int channel, const QString &address, ConnectionPool::Refusal why);

private:
    enum class State : quint8 { Free, Open, Flushing, Draining };
    struct Slot
    {
        int fd = -1;
        quint32 generation = 0;
        State state = State::Free;
        quint8 channel = 0;
        bool wantsWrite = false;
        // Whether epoll reports its input; off while paused or while lines wait in input.
        bool wantsRead = true;
        bool paused = false;
        // In m_backlog: complete lines wait in its input for their turn.
        bool queued = false;
        QString address;
        QString localAddress;
        QString source;
        QByteArray input;
        QByteArray output;
        qsizetype outputPos = 0;
        qint64 lingerUntil = 0;
        // Whether the first byte has been looked at (channels that take TLS only).
        bool sniffed = false;
        // Accepted on the channel's encrypted port: TLS whatever the first byte.
        bool encryptedPort = false;
        // Set once the connection turned out to be TLS.
        std::unique_ptr<TlsStream> tls;
        // Counted among the handshakes under way.
        bool handshaking = false;
        QByteArray peerKey;
    };
    struct Listener
    {
        int fd = -1;
        int port = 0;
    };

    Slot *slotOf(Handle handle);
    const Slot *slotOf(Handle handle) const;
    Handle handleOf(quint32 index) const;
    void onReady();
    // Listener `index`: the channel, plus EncryptedListeners for its encrypted port.
    bool openListener(int index, const QString &address, int port, QString *error);
    void acceptOn(int listener);
    void readFrom(quint32 index);
    void flush(quint32 index);
    void watch(quint32 index, bool write);
    void watchRead(quint32 index, bool read);
    // Hands over at most LinesPerTurn complete lines from the input; false when lines are
    // left (or the connection closed meanwhile).
    bool deliver(quint32 index);
    void queue(quint32 index);
    int lineBound(const Slot &s) const;
    void serveBacklog();
    void finishClose(quint32 index);
    void release(quint32 index);
    // Releases the slot and, when it was open, announces the close.
    void drop(quint32 index);
    void pauseAccepting();
    void sweepLingering();
    // The first byte opens a TLS record: the handshake starts, when there is room for it.
    void startTls(quint32 index);
    // Makes room for one more handshake from the source; false when there is none.
    bool roomForHandshake(const QString &source);
    // The handshake is no longer under way (finished, or its connection gone).
    void endHandshake(Slot &s);
    // Closes the handshakes that have had their time.
    void sweepHandshakes();
    // Goes on with the handshake; once done, reads what came with it.
    void shakeHands(quint32 index);
    // recv() and send(), through TLS on an encrypted connection.
    ssize_t receive(Slot &s, char *buffer, size_t size);
    ssize_t transmit(Slot &s, const char *data, size_t size);

    Limits m_limits;
    int m_epoll = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_sweep = nullptr;
    QTimer *m_resumeAccept = nullptr;
    QTimer *m_backlogTimer = nullptr;
    static constexpr int EncryptedListeners = 8;
    Listener m_listeners[16];
    std::shared_ptr<const TlsContext> m_tls[8];
    std::vector<Slot> m_slots;
    std::vector<quint32> m_free;
    // Connections with complete lines waiting, served in turn LinesPerTurn at a time.
    std::deque<Handle> m_backlog;
    QHash<QString, int> m_perSource;
    // Handshakes under way, oldest first, with when each started (entries of connections
    // that finished or went are skipped when met); and how many each source has.
    std::deque<std::pair<Handle, qint64>> m_handshaking;
    QHash<QString, int> m_handshakesBySource;
    int m_handshakeCount = 0;
    // The most handshakes under way since the heap was last trimmed.
    int m_handshakePeak = 0;
    QTimer *m_handshakeSweep = nullptr;
    int m_open = 0;
    int m_lingering = 0;
    int m_openByChannel[8] = {};
    // The local address of the last connection: most share one, and share its text.
    QString m_lastLocalAddress;
};
