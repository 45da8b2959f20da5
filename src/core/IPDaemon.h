#pragma once

#include "core/ChannelSecurity.h"
#include "core/EndpointError.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class QTcpSocket;

// TCP listening endpoint. Accepted connections are told apart by a ConnectionID, the
// lowest free positive number (the first connection gets 1; a closed one's number is
// reused). Listens on every IPv4 and IPv6 address; IPv4 peers' addresses read as dotted
// digits all the same.
// Line cutting, buffer bounds and close rules are those of IPPort, per connection.
class IPDaemon : public QObject
{
    Q_OBJECT

public:
    explicit IPDaemon(QObject *parent = nullptr);
    ~IPDaemon() override;

    EndpointError setStackOn(bool on);
    bool stackOn() const;

    EndpointError setLocalPort(int port);
    int localPort() const;
    // The numeric address to listen on; empty means every interface, both families (the default).
    // Takes effect at the next setListening(true).
    EndpointError setLocalAddress(const QString &address);
    QString localAddress() const;
    // Reports EndpointError::PortInUse when the port is taken.
    EndpointError setListening(bool listen);
    bool isListening() const;

    QList<int> connectionIds() const;
    bool isConnected(int connectionId) const;
    // Connected, and the peer has not closed or reset the connection in the meantime: also
    // sees a close that has arrived but that the event loop has not handed over yet.
    bool isConnectionUp(int connectionId) const;
    // Closing raises disconnected(connectionId) at once.
    void closeConnection(int connectionId);
    // Kept after the connection has gone, until its number is reused.
    QString remoteAddress(int connectionId) const;
    int remotePort(int connectionId) const;

    void sendData(int connectionId, const QByteArray &text);
    qint64 sentCount(int connectionId) const;
    // Bytes sent on the connection and not yet taken by the peer, and the shortest round
    // trip seen on it; see IPPort.
    qint64 pendingOutput(int connectionId) const;
    int minRoundTripMs(int connectionId) const;

    // LineEnd of one connection; new connections start with defaultLineEnd().
    void setLineEnd(int connectionId, const QByteArray &lineEnd);
    QByteArray lineEnd(int connectionId) const;
    void setDefaultLineEnd(const QByteArray &lineEnd);
    QByteArray defaultLineEnd() const;
    void setInputBufferSize(int bytes);
    int inputBufferSize() const;
    void setOutputBufferSize(int bytes);
    int outputBufferSize() const;

    // A connection that reached this channel another way (the encrypted port): taken as if
    // it had come to this listener's port, request and refusal included. A listener that
    // does not listen takes none. The socket becomes this listener's either way.
    void takeConnection(QTcpSocket *socket, const ChannelSecurity &security);
    // What the encryption of a connection proved (empty keys for a plain one); kept after
    // the connection has gone, like its address.
    ChannelSecurity security(int connectionId) const;
    // A rule every new connection, plain or encrypted, must pass before its request is
    // raised; one that fails it is closed at once.
    void setAdmission(std::function<bool(const ChannelSecurity &)> admission);

signals:
    // A handler may set *accept to false; a refused connection is closed at once.
    void connectionRequest(const QString &remoteAddress, bool *accept);
    void connected(int connectionId, int statusCode, const QString &description);
    void dataIn(int connectionId, const QByteArray &text, bool eol);
    void disconnected(int connectionId, int statusCode, const QString &description);
    void error(int errorCode, const QString &description);
    void readyToSend(int connectionId);

private:
    struct Impl;
    Impl *d;
};
