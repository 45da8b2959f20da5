#include "reach/RouterSearch.h"

#include <QDeadlineTimer>
#include <QUrl>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr const char *SearchGroup = "239.255.255.250";
constexpr quint16 SearchPort = 1900;
// Version 1 is what nearly every router answers to; version 2 routers answer to both.
constexpr const char *SearchTargets[] = {"urn:schemas-upnp-org:device:InternetGatewayDevice:1",
                                         "urn:schemas-upnp-org:device:InternetGatewayDevice:2"};

QByteArray searchText(const char *target)
{
    return QByteArray("M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 1\r\nST: ")
           + target + "\r\n\r\n";
}

} // namespace

QByteArray RouterSearch::locationIn(const QByteArray &answer, const QHostAddress &gateway)
{
    const QList<QByteArray> lines = answer.split('\n');
    if (lines.isEmpty() || !lines.first().startsWith("HTTP/1.") || !lines.first().contains(" 200"))
        return {};
    for (const QByteArray &line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0 || line.left(colon).trimmed().toLower() != "location")
            continue;
        const QByteArray location = line.mid(colon + 1).trimmed();
        const QUrl url(QString::fromLatin1(location), QUrl::StrictMode);
        const QHostAddress host(url.host());
        if (url.isValid() && url.scheme() == QLatin1String("http") && !host.isNull()
            && host.isEqual(gateway, QHostAddress::TolerantConversion))
            return location;
        return {};
    }
    return {};
}

RouterSearch::Result RouterSearch::search(const QHostAddress &gateway, int timeMs)
{
    Result result;
    const QDeadlineTimer deadline(timeMs);
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        result.why = QString::fromLocal8Bit(std::strerror(errno));
        return result;
    }
    // Routers are on this network; the search need not cross another.
    const int ttl = 2;
    ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(SearchPort);
    ::inet_pton(AF_INET, SearchGroup, &to.sin_addr);
    const auto send = [&] {
        bool sent = false;
        for (const char *target : SearchTargets) {
            const QByteArray text = searchText(target);
            sent |= ::sendto(fd, text.constData(), size_t(text.size()), 0, reinterpret_cast<const sockaddr *>(&to),
                             sizeof to)
                    == text.size();
        }
        return sent;
    };
    if (!send()) {
        result.why = QStringLiteral("the router search could not be sent: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        return result;
    }
    // The search goes out once more halfway, in case the first was lost.
    QDeadlineTimer resend(timeMs / 2);
    bool resent = false;
    const quint32 gatewayV4 = gateway.toIPv4Address();
    char buffer[2048];
    while (!deadline.hasExpired()) {
        if (!resent && resend.hasExpired()) {
            resent = true;
            send();
        }
        const qint64 waitMs = resent ? deadline.remainingTime() : qMin(deadline.remainingTime(), resend.remainingTime());
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(std::clamp<qint64>(waitMs, 0, 1000))) <= 0)
            continue;
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got = ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (got < 0)
            continue;
        QByteArray location;
        if (gatewayV4 != 0 && from.sin_family == AF_INET && ntohl(from.sin_addr.s_addr) == gatewayV4)
            location = locationIn(QByteArray(buffer, int(got)), gateway);
        if (location.isEmpty()) {
            // Counted only: a flood of answers holds nothing here.
            if (result.ignored++ == 0)
                result.firstIgnoredFrom = QHostAddress(ntohl(from.sin_addr.s_addr)).toString();
            continue;
        }
        // One description from the gateway is all that is wanted.
        result.location = location;
        break;
    }
    ::close(fd);
    return result;
}
