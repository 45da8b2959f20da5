#include "reach/ReachabilityCheck.h"

#include "core/ChannelDialer.h"
#include "protocol/DirectoryProtocol.h"
#include "protocol/ReachProtocol.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QTcpSocket>
#include <QTimer>

namespace {

// More than any answer needs: a server that sends more is not answering this question.
constexpr int MaxAnswerBytes = 4096;

} // namespace

ReachabilityCheck::ReachabilityCheck(ChannelDialer *dialer, QObject *parent)
    : QObject(parent)
    , m_dialer(dialer)
    , m_deadline(new QTimer(this))
{
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, [this] {
        end(Verdict::Unknown, QString(), m_askedPort,
            m_dialer ? QStringLiteral("the directory server did not answer the check")
                     : QStringLiteral("there is no encrypted connection to ask the directory server over"));
    });
}

ReachabilityCheck::~ReachabilityCheck()
{
    cancel();
}

void ReachabilityCheck::start(const QString &host, int port, int askedPort, int timeoutMs)
{
    cancel();
    m_askedPort = askedPort;
    m_received.clear();
    m_deadline->start(timeoutMs);
    if (!m_dialer) {
        // Reported from the event loop, as every other verdict.
        m_deadline->start(0);
        return;
    }
    const QHostAddress numeric(host);
    if (!numeric.isNull()) {
        dial(numeric, port);
        return;
    }
    m_lookup = QHostInfo::lookupHost(host, this, [this, host, port](const QHostInfo &info) {
        m_lookup = -1;
        if (info.addresses().isEmpty()) {
            end(Verdict::Unknown, QString(), m_askedPort,
                QStringLiteral("the directory server's name %1 was not found").arg(host));
            return;
        }
        dial(info.addresses().constFirst(), port);
    });
}

void ReachabilityCheck::dial(const QHostAddress &address, int port)
{
    m_dialAttempt = m_dialer->dial(address, port, PeerChannel::Control, [this](ChannelDialer::Outcome outcome) {
        // The callback runs inside the attempt: it goes once control is back in the loop.
        if (m_dialAttempt)
            m_dialAttempt.release()->deleteLater();
        switch (outcome.kind) {
        case ChannelDialer::Outcome::Kind::Encrypted:
            outcome.socket->setParent(this);
            ask(outcome.socket);
            return;
        case ChannelDialer::Outcome::Kind::Plain:
            end(Verdict::Unknown, QString(), m_askedPort,
                QStringLiteral("nothing answers on the directory server's encrypted port (an older server, or none at all)"));
            return;
        case ChannelDialer::Outcome::Kind::Refused:
            end(Verdict::Unknown, QString(), m_askedPort,
                QStringLiteral("the directory server could not be asked: %1").arg(outcome.description));
            return;
        }
    });
}

void ReachabilityCheck::ask(QTcpSocket *socket)
{
    m_socket = socket;
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
    socket->write(ReachProtocol::request(m_askedPort));
}

void ReachabilityCheck::cancel()
{
    m_deadline->stop();
    if (m_lookup >= 0) {
        QHostInfo::abortHostLookup(m_lookup);
        m_lookup = -1;
    }
    m_dialAttempt.reset();
    if (!m_socket)
        return;
    m_socket->disconnect(this);
    m_socket->abort();
    m_socket->deleteLater();
    m_socket = nullptr;
}

void ReachabilityCheck::end(Verdict verdict, const QString &address, int port, const QString &reason)
{
    cancel();
    emit finished(verdict, address, port, reason);
}
