#pragma once

#include "core/LineCutter.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QString>

class QHostAddress;
class QTcpServer;
class QTcpSocket;
struct EndpointError;

// One established TCP connection of an endpoint, plain or encrypted (a QSslSocket whose
// handshake is done reads and writes the clear text). It cuts what arrives into lines, queues
// what is sent within a bound and tells its endpoint when the peer has gone. Once closed,
// locally or by the peer, it delivers nothing more.
//
// Handlers of its signals may close it or delete its owner: the socket is never deleted
// while one of its own signals may be on the stack.
class EndpointConnection : public QObject
{
    Q_OBJECT

public:
    // Takes over a connected socket. Once let go, the socket has no parent and deletes
    // itself; until then it keeps the parent it has.
    EndpointConnection(QTcpSocket *socket, QObject *parent);
    ~EndpointConnection() override;

    QString peerAddress() const { return m_peerAddress; }
    int peerPort() const { return m_peerPort; }
    // This side's address of the connection, as dotted digits.
    QString localAddress() const;

    void setLineEnd(const QByteArray &lineEnd);
    QByteArray lineEnd() const { return m_cutter.terminator(); }
    void setInputBufferSize(int bytes);
    void setOutputBufferSize(int bytes) { m_outputLimit = bytes; }

    // Queues the whole text unless more than the output bound is still waiting to go out;
    // returns the bytes accepted.
    qint64 send(const QByteArray &text);
    // Bytes sent and not yet taken by the peer: what waits in this endpoint (on an encrypted
    // connection, before and after encryption) plus what the system has not yet had
    // acknowledged (Linux; elsewhere only the endpoint's part).
    qint64 pendingOutput() const;
    // The shortest round trip the system has seen on the connection, in milliseconds: the
    // part of pendingOutput() that is simply on its way rather than waiting (Linux; 0
    // elsewhere or before the first acknowledgement).
    int minRoundTripMs() const;

    bool isOpen() const { return !m_closed; }
    // Whether the peer has closed or reset the connection as far as the system knows now,
    // even when that has not reached the event loop yet (a close that arrived together
    // with other events, or behind a full read buffer).
    bool peerHasLeft() const;
    // Local close: what is queued still goes out (for a while), nothing more comes in.
    void close();
    // Hands over whatever has arrived and not been delivered yet.
    void readPending();

    // IPv4 addresses in dotted digits, also when they came mapped into IPv6.
    static QString dottedAddress(const QHostAddress &address);
    // What limits per address count by: an IPv4 address itself, or an IPv6 address's /64,
    // which one subscriber usually holds whole.
    static QString sourceOf(const QString &address);
    static int statusCode(QAbstractSocket::SocketError error);
    // Why a listening server could not listen, as an endpoint reports it.
    static EndpointError listenFailure(const QTcpServer &server);
    // Listens on the address; the any-address means both IPv4 and IPv6, or IPv4 alone on
    // a machine without IPv6.
    static bool listen(QTcpServer &server, const QHostAddress &address, quint16 port);

    // How long a locally closed connection may take to hand its queue to the peer.
    static constexpr int LingerMs = 10000;

signals:
    void dataIn(const QByteArray &text, bool eol);
    void closedByPeer(int statusCode, const QString &description);
    void drained();

private:
    void onDisconnected();
    void onError(QAbstractSocket::SocketError error);
    void onBytesWritten();
    void deliver();
    QTcpSocket *release();
    // Bytes waiting in the socket's own queues.
    qint64 queued() const;

    QTcpSocket *m_socket;
    LineCutter m_cutter;
    int m_outputLimit = 65536;
    bool m_closed = false;
    bool m_reading = false;
    int m_errorCode = 0;
    QString m_errorText;
    QString m_peerAddress;
    int m_peerPort = 0;
};
