#include "reach/AddressScope.h"

#include <QHostAddress>
#include <QNetworkInterface>

bool AddressScope::isPublic(const QHostAddress &address)
{
    if (address.isNull() || address.isLoopback() || address.isLinkLocal() || address.isMulticast()
        || address.isBroadcast() || address == QHostAddress(QHostAddress::AnyIPv4)
        || address == QHostAddress(QHostAddress::AnyIPv6))
        return false;
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4) {
        const auto within = [v4](quint32 network, int bits) {
            return (v4 >> (32 - bits)) == (network >> (32 - bits));
        };
        return !(within(0x00000000, 8) || within(0x0a000000, 8) || within(0x64400000, 10) || within(0xac100000, 12)
                 || within(0xc0a80000, 16) || within(0xa9fe0000, 16));
    }
    return !address.isUniqueLocalUnicast() && !address.isSiteLocal();
}

bool AddressScope::isPublic(const QString &address)
{
    QHostAddress parsed;
    return parsed.setAddress(address) && isPublic(parsed);
}

AddressScope::Reach AddressScope::reachOf(const QString &address)
{
    QHostAddress parsed;
    if (!parsed.setAddress(address))
        return Reach::Network;
    // An IPv4 address written the IPv6 way ("::ffff:127.0.0.1") is judged as IPv4.
    bool isV4 = false;
    const quint32 v4 = parsed.toIPv4Address(&isV4);
    if (isV4)
        parsed = QHostAddress(v4);
    if (parsed.isLoopback())
        return Reach::Computer;
    return isPublic(parsed) ? Reach::Internet : Reach::Network;
}

QString AddressScope::localIPv4()
{
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
        if (!(interface.flags() & QNetworkInterface::IsUp) || (interface.flags() & QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry &entry : interface.addressEntries()) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol && !entry.ip().isLoopback())
                return entry.ip().toString();
        }
    }
    return QString();
}

QString AddressScope::globalIPv6()
{
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
        if (!(interface.flags() & QNetworkInterface::IsUp) || (interface.flags() & QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry &entry : interface.addressEntries()) {
            const QHostAddress ip = entry.ip();
            if (ip.protocol() == QAbstractSocket::IPv6Protocol && isPublic(ip) && !ip.toIPv4Address())
                return ip.toString();
        }
    }
    return QString();
}

QString AddressScope::withPort(const QString &address, int port)
{
    const QString host = address.contains(QLatin1Char(':')) ? QLatin1Char('[') + address + QLatin1Char(']') : address;
    return host + QLatin1Char(':') + QString::number(port);
}
