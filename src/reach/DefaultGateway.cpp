#include "reach/DefaultGateway.h"

#include <QFile>
#include <QList>

#include <arpa/inet.h>

#include <limits>

namespace {

constexpr quint32 RouteUp = 0x1;
constexpr quint32 RouteGateway = 0x2;

} // namespace

QHostAddress DefaultGateway::ipv4()
{
    // The thread's own view: the worker may be on another network than the process's
    // first thread (as in tests that put one thread on a machine of its own).
    for (const char *path : {"/proc/thread-self/net/route", "/proc/net/route"}) {
        QFile file(QString::fromLatin1(path));
        if (file.open(QIODevice::ReadOnly))
            return fromRouteTable(file.read(256 * 1024));
    }
    return {};
}

QHostAddress DefaultGateway::fromRouteTable(const QByteArray &table)
{
    QHostAddress best;
    qint64 bestMetric = std::numeric_limits<qint64>::max();
    const QList<QByteArray> lines = table.split('\n');
    for (const QByteArray &line : lines.mid(1)) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 8)
            continue;
        bool ok[5] = {};
        const quint32 destination = f[1].toUInt(&ok[0], 16);
        const quint32 gateway = f[2].toUInt(&ok[1], 16);
        const quint32 flags = f[3].toUInt(&ok[2], 16);
        const qint64 metric = f[6].toLongLong(&ok[3]);
        const quint32 mask = f[7].toUInt(&ok[4], 16);
        if (!(ok[0] && ok[1] && ok[2] && ok[3] && ok[4]) || destination != 0 || mask != 0 || gateway == 0
            || (flags & (RouteUp | RouteGateway)) != (RouteUp | RouteGateway) || metric >= bestMetric)
            continue;
        // The table shows the address as the kernel holds it, in network order.
        best = QHostAddress(ntohl(gateway));
        bestMetric = metric;
    }
    return best;
}
