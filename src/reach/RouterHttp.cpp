#include "reach/RouterHttp.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QUrl>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Room for the status line and headers, beside the body itself.
constexpr qint64 HeaderBytes = 16 * 1024;

QString addressOf(const sockaddr_storage &address)
{
    QHostAddress host(reinterpret_cast<const sockaddr *>(&address));
    bool mapped = false;
    const quint32 v4 = host.toIPv4Address(&mapped);
    if (mapped)
        host = QHostAddress(v4);
    return host.toString();
}

// Waits for the socket within what is left of the deadline; false when time ran out.
bool waitFor(int fd, short events, const QDeadlineTimer &deadline)
{
    for (;;) {
        const qint64 left = deadline.remainingTime();
        if (left <= 0)
            return false;
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, int(qMin<qint64>(left, 1000)));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

// The body of a chunked answer; empty with *ok false when it is not one whole.
QByteArray unchunk(const QByteArray &raw, bool *ok)
{
    QByteArray body;
    qsizetype at = 0;
    *ok = false;
    for (;;) {
        const qsizetype lineEnd = raw.indexOf("\r\n", at);
        if (lineEnd < 0)
            return {};
        bool number = false;
        const qint64 size = raw.mid(at, lineEnd - at).split(';').first().trimmed().toLongLong(&number, 16);
        if (!number || size < 0 || size > raw.size())
            return {};
        at = lineEnd + 2;
        if (size == 0) {
            *ok = true;
            return body;
        }
        if (at + size + 2 > raw.size())
            return {};
        body += raw.mid(at, size);
        at += size + 2;
    }
}

// Whether the answer so far holds the whole body; *status and *body set when it does.
enum class Whole { No, Yes, Broken };
Whole whole(const QByteArray &raw, bool closed, int *status, QByteArray *body)
{
    const qsizetype headerEnd = raw.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return closed ? Whole::Broken : Whole::No;
    const QByteArrayList lines = raw.left(headerEnd).split('\n');
    const QByteArrayList statusLine = lines.first().trimmed().split(' ');
    bool number = false;
    *status = statusLine.size() < 2 ? 0 : statusLine[1].toInt(&number);
    if (!statusLine[0].startsWith("HTTP/1.") || !number || *status < 100 || *status > 599)
        return Whole::Broken;
    qint64 length = -1;
    bool chunked = false;
    for (const QByteArray &line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed().toLower();
        if (name == "content-length")
            length = value.toLongLong();
        else if (name == "transfer-encoding")
            chunked = value.contains("chunked");
    }
    const QByteArray rest = raw.mid(headerEnd + 4);
    if (chunked) {
        bool ok = false;
        *body = unchunk(rest, &ok);
        if (ok)
            return Whole::Yes;
        return closed ? Whole::Broken : Whole::No;
    }
    if (length >= 0) {
        if (rest.size() >= length) {
            *body = rest.left(length);
            return Whole::Yes;
        }
        return closed ? Whole::Broken : Whole::No;
    }
    if (!closed)
        return Whole::No;
    *body = rest;
    return Whole::Yes;
}

} // namespace

RouterHttp::Result RouterHttp::get(const QString &url, qint64 maxBytes, int timeMs)
{
    Result result = exchange(url, "GET", {}, {}, QStringLiteral("description"), maxBytes, timeMs);
    if (result.ok && result.status != 200) {
        result.ok = false;
        result.body.clear();
        result.why = QStringLiteral("the description's address answered with status %1").arg(result.status);
    }
    return result;
}

RouterHttp::Result RouterHttp::post(const QString &url, const QByteArray &soapAction, const QByteArray &body,
                                    qint64 maxBytes, int timeMs)
{
    const QByteArray headers = "Content-Type: text/xml; charset=\"utf-8\"\r\nSOAPAction: \"" + soapAction
                               + "\"\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
    return exchange(url, "POST", headers, body, QStringLiteral("router's answer"), maxBytes, timeMs);
}

RouterHttp::Result RouterHttp::exchange(const QString &url, const QByteArray &method, const QByteArray &headers,
                                        const QByteArray &content, const QString &what, qint64 maxBytes, int timeMs)
{
    Result result;
    const QDeadlineTimer deadline(timeMs);
    const QUrl where(url);
    if (!where.isValid() || where.scheme() != QLatin1String("http") || where.host().isEmpty()) {
        result.why = QStringLiteral("%1 is not an http address").arg(url.left(200));
        return result;
    }
    const QByteArray host = where.host(QUrl::FullyEncoded).toLatin1();
    const int port = where.port(80);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *found = nullptr;
    if (::getaddrinfo(host.constData(), QByteArray::number(port).constData(), &hints, &found) != 0 || !found) {
        result.why = QStringLiteral("the address %1 is not known").arg(QString::fromLatin1(host));
        return result;
    }
    const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int started = fd < 0 ? -1 : ::connect(fd, found->ai_addr, found->ai_addrlen);
    const int connectError = errno;
    ::freeaddrinfo(found);
    const QString shown = QString::fromLatin1(where.authority(QUrl::FullyEncoded).toLatin1().left(200));
    const auto fail = [&](const QString &why) {
        if (fd >= 0)
            ::close(fd);
        result.why = why;
        return result;
    };
    if (fd < 0 || (started != 0 && connectError != EINPROGRESS))
        return fail(QStringLiteral("could not connect to %1: %2").arg(shown, QString::fromLocal8Bit(std::strerror(connectError))));
    int error = 0;
    socklen_t errorLength = sizeof error;
    if (!waitFor(fd, POLLOUT, deadline) || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &errorLength) != 0
        || error != 0)
        return fail(QStringLiteral("%1 did not take the connection").arg(shown));
    sockaddr_storage own{};
    socklen_t ownLength = sizeof own;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&own), &ownLength) == 0)
        result.localAddress = addressOf(own);
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerLength) == 0)
        result.peerAddress = addressOf(peer);

    QByteArray path = where.path(QUrl::FullyEncoded).toLatin1();
    if (path.isEmpty())
        path = "/";
    if (where.hasQuery())
        path += '?' + where.query(QUrl::FullyEncoded).toLatin1();
    const QByteArray hostHeader = where.authority(QUrl::FullyEncoded).toLatin1();
    const QByteArray request = method + ' ' + path + " HTTP/1.1\r\nHost: " + hostHeader
                               + "\r\nConnection: close\r\nUser-Agent: ZELMO\r\n" + headers + "\r\n" + content;
    qsizetype sent = 0;
    while (sent < request.size()) {
        if (!waitFor(fd, POLLOUT, deadline))
            return fail(QStringLiteral("%1 took no request").arg(shown));
        const ssize_t n = ::send(fd, request.constData() + sent, size_t(request.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return fail(QStringLiteral("%1 took no request").arg(shown));
        sent += n;
    }

    QByteArray raw;
    char buffer[16384];
    for (;;) {
        bool closed = false;
        if (!waitFor(fd, POLLIN, deadline))
            return fail(QStringLiteral("the %1 did not come whole within %2 ms").arg(what).arg(timeMs));
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n < 0)
            return fail(QStringLiteral("the %1 broke off").arg(what));
        closed = n == 0;
        raw.append(buffer, n);
        if (raw.size() > maxBytes + HeaderBytes)
            return fail(QStringLiteral("the %1 is larger than %2 bytes").arg(what).arg(maxBytes));
        QByteArray body;
        int status = 0;
        switch (whole(raw, closed, &status, &body)) {
        case Whole::Yes:
            ::close(fd);
            if (body.size() > maxBytes) {
                result.why = QStringLiteral("the %1 is larger than %2 bytes").arg(what).arg(maxBytes);
                return result;
            }
            result.ok = true;
            result.status = status;
            result.body = body;
            return result;
        case Whole::Broken:
            return fail(QStringLiteral("the %1 broke off").arg(what));
        case Whole::No:
            break;
        }
    }
}
