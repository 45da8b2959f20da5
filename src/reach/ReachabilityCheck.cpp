#include "reach/ReachabilityCheck.h"

#include "directory/DirectoryProtocol.h"
#include "directory/ReachProtocol.h"

#include <QTcpSocket>
#include <QTimer>

namespace {

// More than any answer needs: a server that sends more is not answering this question.
constexpr int MaxAnswerBytes = 4096;

} // namespace

ReachabilityCheck::ReachabilityCheck(QObject *parent)
    : QObject(parent)
    , m_deadline(new QTimer(this))
{
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, [this] {
        end(Verdict::Unknown, QString(), m_askedPort,
            QStringLiteral("the directory server did not answer the check (an older server does not know it)"));
    });
}

void ReachabilityCheck::start(const QString &host, int port, int askedPort, int timeoutMs)
{
    cancel();
    m_askedPort = askedPort;
    m_received.clear();
    m_socket = new QTcpSocket(this);
    QTcpSocket *socket = m_socket;
    connect(socket, &QTcpSocket::connected, this, [socket, askedPort] { socket->write(ReachProtocol::request(askedPort)); });
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        m_received += socket->readAll();
        qsizetype start = 0;
        for (qsizetype stop; (stop = m_received.indexOf(DirectoryProtocol::Terminator, start)) >= 0;
             start = stop + qsizetype(sizeof DirectoryProtocol::Terminator - 1)) {
            // The server may greet or notify first; only the answer counts.
            if (const auto answer = ReachProtocol::parseAnswer(m_received.mid(start, stop - start))) {
                end(answer->reachable ? Verdict::Reachable : Verdict::NotReachable, answer->address, answer->port,
                    answer->reason);
                return;
            }
        }
        m_received.remove(0, start);
        if (m_received.size() > MaxAnswerBytes)
            end(Verdict::Unknown, QString(), m_askedPort, QStringLiteral("the directory server's answer made no sense"));
    });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] {
        end(Verdict::Unknown, QString(), m_askedPort,
            QStringLiteral("the directory server could not be asked: %1").arg(socket->errorString()));
    });
    m_deadline->start(timeoutMs);
    socket->connectToHost(host, quint16(port));
}

void ReachabilityCheck::cancel()
{
    m_deadline->stop();
    if (!m_socket)
        return;
    m_socket->disconnect(this);
    m_socket->abort();
    m_socket->deleteLater();
    m_socket = nullptr;
}

bool ReachabilityCheck::isRunning() const
{
    return m_socket != nullptr;
}

void ReachabilityCheck::end(Verdict verdict, const QString &address, int port, const QString &reason)
{
    cancel();
    emit finished(verdict, address, port, reason);
}
