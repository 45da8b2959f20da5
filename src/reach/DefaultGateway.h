#pragma once

#include <QByteArray>
#include <QHostAddress>

// The IPv4 default gateway of the network this thread is on: the home router, the only
// machine whose answers to the router search are believed.
class DefaultGateway
{
public:
    // Null when there is no default route.
    static QHostAddress ipv4();
    // The same from the kernel's route table text (/proc/net/route), lowest metric first.
    static QHostAddress fromRouteTable(const QByteArray &table);
};
