#include "secure/BridgedSocket.h"

#include <unistd.h>

BridgedSocket::BridgedSocket(QObject *parent)
    : QSslSocket(parent)
{
}

bool BridgedSocket::adopt(int descriptor, const QHostAddress &peer, quint16 peerPort)
{
    if (!setSocketDescriptor(descriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite)) {
        ::close(descriptor);
        return false;
    }
    setPeerAddress(peer);
    setPeerPort(peerPort);
    return true;
}
