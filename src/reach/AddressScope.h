#pragma once

#include <QString>

class QHostAddress;

// Where an address can be reached from: what a router reports as its outside address is
// only worth giving to others when it is not itself private.
class AddressScope
{
public:
    // Reachable from the internet at large: not private (RFC 1918, shared 100.64.0.0/10,
    // unique local), not loopback, link-local, multicast or unspecified.
    static bool isPublic(const QHostAddress &address);
    static bool isPublic(const QString &address);
    // Who can connect to an address: only programs on this computer (loopback), those on
    // the same network (private, shared, link-local, unique local), or anyone.
    enum class Reach { Computer, Network, Internet };
    static Reach reachOf(const QString &address);
    // This machine's first IPv4 address on a network, empty when it has none.
    static QString localIPv4();
    // This machine's first global IPv6 address, empty when it has none.
    static QString globalIPv6();
    // How an address and port are written for others: [v6]:port or v4:port.
    static QString withPort(const QString &address, int port);
};
