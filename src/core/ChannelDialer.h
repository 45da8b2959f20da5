#pragma once

#include "core/ChannelSecurity.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QHostAddress;
class QTcpSocket;

// How a client endpoint that may go encrypted reaches its peer: it asks the dialer, which
// hands back an encrypted connection, or says to connect plain as always, or that this
// connection must not be made at all.
class ChannelDialer
{
public:
    struct Outcome
    {
        enum class Kind { Encrypted, Plain, Refused };
        Kind kind = Kind::Plain;
        // Encrypted: the connected socket, from now on the receiver's.
        QTcpSocket *socket = nullptr;
        ChannelSecurity security;
        // Refused: why, as an endpoint status code and its description.
        int code = 0;
        QString description;
    };

    virtual ~ChannelDialer() = default;

    // Starts reaching the peer whose `channel` listens on address:port. `done` runs once,
    // from the event loop, unless the returned attempt is deleted first, which cancels it.
    virtual std::unique_ptr<QObject> dial(const QHostAddress &address, int port, PeerChannel channel,
                                          std::function<void(Outcome)> done) = 0;
};
