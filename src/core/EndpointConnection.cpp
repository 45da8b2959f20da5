#include "core/EndpointConnection.h"

#include "core/EndpointError.h"

#include <QHostAddress>
#include <QPointer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <poll.h>

#ifdef Q_OS_LINUX
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cstddef>
#endif

EndpointConnection::EndpointConnection(QTcpSocket *socket, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_peerAddress(dottedAddress(socket->peerAddress()))
    , m_peerPort(socket->peerPort())
{
    // Qt's own read buffer is bounded too, so a flood waits in the kernel, not here.
    m_socket->setReadBufferSize(m_cutter.limit());
    connect(m_socket, &QIODevice::readyRead, this, &EndpointConnection::readPending);
    connect(m_socket, &QIODevice::bytesWritten, this, &EndpointConnection::onBytesWritten);
    connect(m_socket, &QAbstractSocket::disconnected, this, &EndpointConnection::onDisconnected);
    connect(m_socket, &QAbstractSocket::stateChanged, this, [this](QAbstractSocket::SocketState state) {
        if (state == QAbstractSocket::UnconnectedState)
            onDisconnected();
    });
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &EndpointConnection::onError);
    if (auto *secure = qobject_cast<QSslSocket *>(m_socket))
        connect(secure, &QSslSocket::encryptedBytesWritten, this, &EndpointConnection::onBytesWritten);
}

EndpointConnection::~EndpointConnection()
{
    if (!m_socket)
        return;
    QTcpSocket *socket = release();
    socket->abort();
    socket->deleteLater();
}

void EndpointConnection::setLineEnd(const QByteArray &lineEnd)
{
    m_cutter.setTerminator(lineEnd);
}

void EndpointConnection::setInputBufferSize(int bytes)
{
    m_cutter.setLimit(bytes);
    if (m_socket)
        m_socket->setReadBufferSize(m_cutter.limit());
}

qint64 EndpointConnection::send(const QByteArray &text)
{
    if (m_closed || text.isEmpty())
        return 0;
    // A peer that does not read must not make the queue grow without end: the sender is
    // told through a count of 0 and tries again later.
    if (queued() > m_outputLimit)
        return 0;
    const qint64 written = m_socket->write(text);
    return written < 0 ? 0 : written;
}

qint64 EndpointConnection::pendingOutput() const
{
    if (m_closed || !m_socket)
        return 0;
    qint64 pending = queued();
#ifdef Q_OS_LINUX
    // The kernel keeps what it sent until the peer acknowledges it; on a slow link that is
    // where the data waits, sized by the system up to megabytes.
    int unacknowledged = 0;
    const qintptr fd = m_socket->socketDescriptor();
    if (fd >= 0 && ::ioctl(int(fd), SIOCOUTQ, &unacknowledged) == 0 && unacknowledged > 0)
        pending += unacknowledged;
#endif
    return pending;
}

int EndpointConnection::minRoundTripMs() const
{
#ifdef Q_OS_LINUX
    if (m_closed || !m_socket || m_socket->socketDescriptor() < 0)
        return 0;
    tcp_info info{};
    socklen_t length = sizeof info;
    const int fd = int(m_socket->socketDescriptor());
    // Older kernels hand back a shorter structure without the field.
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) == 0
        && length >= socklen_t(offsetof(tcp_info, tcpi_min_rtt) + sizeof info.tcpi_min_rtt)
        && info.tcpi_min_rtt != ~0u)
        return int(info.tcpi_min_rtt / 1000);
#endif
    return 0;
}

void EndpointConnection::close()
{
    if (m_closed)
        return;
    m_closed = true;
    QTcpSocket *socket = release();
    connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(LingerMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        socket->deleteLater();
}

bool EndpointConnection::peerHasLeft() const
{
    if (m_closed || !m_socket)
        return true;
    const qintptr descriptor = m_socket->socketDescriptor();
    if (descriptor < 0)
        return true;
    pollfd p{int(descriptor), POLLIN | POLLRDHUP, 0};
    if (::poll(&p, 1, 0) <= 0)
        return false;
    return (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

void EndpointConnection::readPending()
{
    if (m_closed || m_reading)
        return;
    QPointer<EndpointConnection> self(this);
    m_reading = true;
    deliver();
    if (self)
        m_reading = false;
}

void EndpointConnection::deliver()
{
    QPointer<EndpointConnection> self(this);
    // A handler may close the connection or delete its owner; then nothing more goes out.
    const auto stillOpen = [&self] { return self && !self->m_closed; };
    for (;;) {
        QByteArray text;
        bool eol = false;
        if (m_cutter.next(&text, &eol)) {
            emit dataIn(text, eol);
            if (!stillOpen())
                return;
            continue;
        }
        if (m_socket->bytesAvailable() <= 0)
            return;
        if (m_cutter.terminator().isEmpty()) {
            const int limit = m_cutter.limit();
            text = m_socket->read(limit);
            if (text.isEmpty())
                return;
            eol = !(text.size() == limit && m_socket->bytesAvailable() > 0);
            emit dataIn(text, eol);
            if (!stillOpen())
                return;
            continue;
        }
        const QByteArray chunk = m_socket->read(m_cutter.room());
        if (chunk.isEmpty())
            return;
        m_cutter.append(chunk);
    }
}

void EndpointConnection::onDisconnected()
{
    if (m_closed)
        return;
    QPointer<EndpointConnection> self(this);
    // Lines that arrived before the close are still handed over; an unterminated rest
    // is not a message and is dropped.
    readPending();
    if (!self || m_closed)
        return;
    m_closed = true;
    release()->deleteLater();
    emit closedByPeer(m_errorCode,
                      m_errorCode ? m_errorText : QStringLiteral("Connection closed by the peer"));
}

void EndpointConnection::onError(QAbstractSocket::SocketError error)
{
    if (m_closed || error == QAbstractSocket::RemoteHostClosedError)
        return;
    m_errorCode = statusCode(error);
    m_errorText = m_socket->errorString();
    if (m_socket->state() == QAbstractSocket::UnconnectedState) {
        onDisconnected();
        return;
    }
    // A record that does not decrypt (garbage, a wrong check value) means someone else
    // writes into the stream: nothing after it can be trusted, and the encryption cannot
    // go on, so the connection ends at once rather than at its channel's silence limit.
    // Not from within the socket's own report: the next turn of the loop.
    const bool tlsError = error == QAbstractSocket::SslInternalError || error == QAbstractSocket::SslInvalidUserDataError
                          || error == QAbstractSocket::SslHandshakeFailedError;
    if (tlsError && qobject_cast<QSslSocket *>(m_socket)) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_closed || !m_socket)
                    return;
                QPointer<EndpointConnection> self(this);
                readPending();
                if (!self || m_closed)
                    return;
                m_socket->abort();
                if (self && !m_closed)
                    onDisconnected();
            },
            Qt::QueuedConnection);
    }
}

void EndpointConnection::onBytesWritten()
{
    if (!m_closed && queued() == 0)
        emit drained();
}

qint64 EndpointConnection::queued() const
{
    qint64 bytes = m_socket->bytesToWrite();
    // An encrypted connection keeps two queues: what waits to be encrypted, and the
    // records made of it that wait for the system.
    if (const auto *secure = qobject_cast<const QSslSocket *>(m_socket))
        bytes += secure->encryptedBytesToWrite();
    return bytes;
}

QTcpSocket *EndpointConnection::release()
{
    QTcpSocket *socket = m_socket;
    m_socket = nullptr;
    socket->disconnect(this);
    // From here on the socket deletes itself later. The owner may be deleted inside one
    // of the socket's own signals and must not take the socket along at that moment.
    socket->setParent(nullptr);
    return socket;
}

QString EndpointConnection::localAddress() const
{
    return m_socket ? dottedAddress(m_socket->localAddress()) : QString();
}

QString EndpointConnection::sourceOf(const QString &address)
{
    const QHostAddress host(address);
    if (host.protocol() != QAbstractSocket::IPv6Protocol)
        return address;
    Q_IPV6ADDR bytes = host.toIPv6Address();
    for (int i = 8; i < 16; ++i)
        bytes[i] = 0;
    return QHostAddress(bytes).toString() + QStringLiteral("/64");
}

bool EndpointConnection::listen(QTcpServer &server, const QHostAddress &address, quint16 port)
{
    if (server.listen(address, port))
        return true;
    if (address != QHostAddress(QHostAddress::Any) || server.serverError() == QAbstractSocket::AddressInUseError)
        return false;
    return server.listen(QHostAddress(QHostAddress::AnyIPv4), port);
}

QString EndpointConnection::dottedAddress(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4)
        return QHostAddress(v4).toString();
    return address.toString();
}

int EndpointConnection::statusCode(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return EndpointError::ConnectionRefused;
    case QAbstractSocket::RemoteHostClosedError:
        return EndpointError::ConnectionReset;
    case QAbstractSocket::HostNotFoundError:
        return EndpointError::HostNotFound;
    case QAbstractSocket::SocketTimeoutError:
        return EndpointError::TimedOut;
    case QAbstractSocket::AddressInUseError:
        return EndpointError::PortInUse;
    default:
        return EndpointError::SocketError;
    }
}

EndpointError EndpointConnection::listenFailure(const QTcpServer &server)
{
    const int code = server.serverError() == QAbstractSocket::AddressInUseError ? EndpointError::PortInUse
                                                                                 : statusCode(server.serverError());
    return {code, server.errorString()};
}
