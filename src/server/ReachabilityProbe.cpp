#include "server/ReachabilityProbe.h"

#include "protocol/ReachProtocol.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

ReachabilityProbe::ReachabilityProbe(QObject *parent)
    : QObject(parent)
{
}

bool ReachabilityProbe::handle(const QByteArray &message, const QString &peerAddress,
                               const std::function<void(const QByteArray &)> &answer)
{
    if (!ReachProtocol::isRequest(message))
        return false;
    ReachProtocol::Answer verdict;
    verdict.address = peerAddress;
    const std::optional<int> port = ReachProtocol::parseRequest(message);
    if (!port) {
        verdict.reason = QStringLiteral("not a port");
        answer(ReachProtocol::answer(verdict));
        return true;
    }
    verdict.port = *port;
    if (m_running >= MaxAtOnce) {
        verdict.reason = QStringLiteral("the server is busy checking others, try again later");
        answer(ReachProtocol::answer(verdict));
        return true;
    }
    ++m_running;
    auto *socket = new QTcpSocket(this);
    auto *deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    // The first of connected, failed and timed out ends the probe; the rest find it ended.
    auto finish = std::make_shared<std::function<void(bool, const QString &)>>();
    *finish = [this, socket, verdict, answer](bool reachable, const QString &reason) mutable {
        --m_running;
        verdict.reachable = reachable;
        verdict.reason = reason;
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
        answer(ReachProtocol::answer(verdict));
    };
    const auto end = [finish](bool reachable, const QString &reason) {
        const auto once = std::move(*finish);
        *finish = nullptr;
        if (once)
            once(reachable, reason);
    };
    connect(socket, &QTcpSocket::connected, this, [end] { end(true, QStringLiteral("connected")); });
    connect(socket, &QTcpSocket::errorOccurred, this, [end, socket] { end(false, socket->errorString()); });
    connect(deadline, &QTimer::timeout, this,
            [end] { end(false, QStringLiteral("no answer within %1 seconds").arg(TimeoutMs / 1000)); });
    deadline->start(TimeoutMs);
    socket->connectToHost(QHostAddress(peerAddress), quint16(*port));
    return true;
}
