#pragma once

#include "core/ChannelSecurity.h"
#include "core/EndpointError.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

class ChannelDialer;
class QTcpSocket;
class QTimer;

// TCP client endpoint. Wire text is bytes; incoming data is cut at LineEnd and handed
// over one line per dataIn event (EOL true), or as a partial line (EOL false) when a
// line outgrows InputBufferSize; the piece that reaches the LineEnd then comes with EOL
// true. Without a LineEnd each read is one event (EOL false only when a read larger than
// InputBufferSize had to be cut).
//
// Event rules callers rely on:
//  - every connect attempt ends in exactly one connected(status) event, 0 = success,
//    unless the attempt is abandoned locally with setConnected(false), which is silent;
//  - a local close of an established connection raises disconnected() at once;
//  - remoteAddress() stays readable after the connection has gone;
//  - sends while not connected are dropped (sentCount() 0);
//  - once a handler closes the connection, no further buffered line is delivered.
class IPPort : public QObject
{
    Q_OBJECT

public:
    explicit IPPort(QObject *parent = nullptr);
    ~IPPort() override;

    static constexpr int DefaultInputBufferSize = 32768;
    static constexpr int DefaultOutputBufferSize = 65536;
    static constexpr int DefaultConnectTimeoutMs = 15000;

    EndpointError setStackOn(bool on);
    bool stackOn() const;

    // This host's own name.
    QString localAddress() const;

    // A numeric address is taken as it is; a name is resolved at once.
    EndpointError setRemoteAddress(const QString &host);
    QString remoteAddress() const;
    EndpointError setRemotePort(int port);
    int remotePort() const;

    // true starts connecting to the remote address and port; false closes. An attempt
    // that cannot start (no address or port, stack off) is refused here, without an event.
    EndpointError setConnected(bool connect);
    bool isConnected() const;

    // Queues the whole text when the connection is up and its send queue is below
    // OutputBufferSize; sentCount() then reports the bytes accepted (0 when refused).
    void sendData(const QByteArray &text);
    qint64 sentCount() const;
    // Bytes sent and not yet taken by the peer (this endpoint's queue and the system's); 0
    // when not connected.
    qint64 pendingOutput() const;
    // The shortest round trip seen on the connection in milliseconds (0 when unknown).
    int minRoundTripMs() const;

    void setLineEnd(const QByteArray &lineEnd);
    QByteArray lineEnd() const;
    void setInputBufferSize(int bytes);
    int inputBufferSize() const;
    void setOutputBufferSize(int bytes);
    int outputBufferSize() const;
    void setConnectTimeout(int milliseconds);

    // A client of one of the peer channels may try the encrypted way first: each connect
    // then asks the dialer, which hands back an encrypted connection or lets the endpoint
    // connect plain as without it. Without a dialer the endpoint always connects plain.
    void setDialer(ChannelDialer *dialer, PeerChannel channel);
    // What the encryption of the current (or last) connection proved; empty keys when plain.
    ChannelSecurity security() const;

signals:
    void connected(int statusCode, const QString &description);
    void dataIn(const QByteArray &text, bool eol);
    void disconnected(int statusCode, const QString &description);
    void error(int errorCode, const QString &description);
    void readyToSend();

private:
    struct Impl;
    Impl *d;
};
