#pragma once

#include <QHostAddress>
#include <QSslSocket>

// A TLS socket on one end of a local stream socket whose other end carries one channel of a
// call over a path found between two routers (see PathFinder). It shows the peer's address
// as the call knows it rather than the local socket's, so the call's checks (the accepted
// caller, the limits per source, the keys bound to an address) see one peer whatever the
// path.
class BridgedSocket : public QSslSocket
{
public:
    explicit BridgedSocket(QObject *parent = nullptr);

    // Takes over the connected local socket; false (and the descriptor closed) when it
    // cannot be used.
    bool adopt(int descriptor, const QHostAddress &peer, quint16 peerPort);
};
