#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVector>

#include <vector>

class QSocketNotifier;
class QTimer;

// Every client connection of the server, on one epoll set that a single socket notifier
// watches from the Qt event loop. Ten thousand idle connections then cost nothing per
// turn of the loop, and a connection costs a slot and its buffers rather than a socket
// object with notifiers of its own.
//
// A connection is known by a Handle that is never reused: an answer that comes back from
// the registry after its client has gone cannot reach the next client on the same slot.
// Lines are cut at the terminator; a line that outgrows the bound without one is
// reported, and output is bounded so a client that never reads cannot grow memory.
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
        // Unsent answers beyond this close the connection.
        int maxPendingOutput = 1024 * 1024;
        // Connections beyond this are closed as soon as they are accepted.
        int maxConnections = 1000;
    };
    // How long a closed connection may take to hand over what was queued for it.
    static constexpr int LingerMs = 10000;

    explicit ConnectionPool(Limits limits, QObject *parent = nullptr);
    ~ConnectionPool() override;

    // Listens on a numeric address (empty: every IPv4 interface) for connections that are
    // then marked with the channel number (0 to 7). False with a reason.
    bool listen(int channel, const QString &address, int port, QString *error);
    int localPort(int channel) const;
    void stopListening();
    // Closes every connection at once, without the linger.
    void closeAll();

    void setMaxConnections(int count) { m_limits.maxConnections = count; }
    const Limits &limits() const { return m_limits; }

    bool isOpen(Handle handle) const { return slotOf(handle) != nullptr; }
    int channel(Handle handle) const;
    // The peer's address as dotted digits; kept until the handle's slot is reused.
    QString peerAddress(Handle handle) const;
    int count() const { return m_open; }
    int count(int channel) const;
    QVector<Handle> handles(int channel) const;

    // Queues the text for the connection. A client with more than maxPendingOutput still
    // unsent is not reading: it is closed (and closed() raised) and false returned.
    bool send(Handle handle, const QByteArray &text);
    // Stops reading, lets what is queued go out, then closes. closed() is raised at once.
    void close(Handle handle);

signals:
    void opened(ConnectionPool::Handle handle);
    // One complete line, without its terminator. A handler may send or close.
    void line(ConnectionPool::Handle handle, const QByteArray &text);
    // The client sent maxLineBytes without a terminator.
    void lineTooLong(ConnectionPool::Handle handle);
    // Closed by the peer, by an error or by close(); raised once per handle.
    void closed(ConnectionPool::Handle handle, int channel);
    // A connection was turned away because the pool was full.
    void refused(int channel, const QString &address);

private:
    enum class State : quint8 { Free, Open, Flushing, Draining };
    struct Slot
    {
        int fd = -1;
        quint32 generation = 0;
        State state = State::Free;
        quint8 channel = 0;
        bool wantsWrite = false;
        QString address;
        QByteArray input;
        QByteArray output;
        qsizetype outputPos = 0;
        qint64 lingerUntil = 0;
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
    void acceptOn(int channel);
    void readFrom(quint32 index);
    void flush(quint32 index);
    void watch(quint32 index, bool write);
    void finishClose(quint32 index);
    void release(quint32 index);
    // Releases the slot and, when it was open, announces the close.
    void drop(quint32 index);
    void pauseAccepting();
    void sweepLingering();

    Limits m_limits;
    int m_epoll = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_sweep = nullptr;
    QTimer *m_resumeAccept = nullptr;
    Listener m_listeners[8];
    std::vector<Slot> m_slots;
    std::vector<quint32> m_free;
    int m_open = 0;
    int m_lingering = 0;
    int m_openByChannel[8] = {};
};
