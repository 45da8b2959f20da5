#include "secure/DialAttempt.h"

#include <QSslSocket>
#include <QTimer>

DialAttempt::~DialAttempt()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void DialAttempt::decide(Outcome outcome)
{
    QTimer::singleShot(0, this, [this, outcome] { conclude(outcome); });
}

void DialAttempt::prepare(const TlsSetup::Credentials &own, const QList<PeerChannel> &channels, QSslSocket *socket,
                          bool currentFormats)
{
    m_own = own;
    m_socket = socket ? socket : new QSslSocket(this);
    m_socket->setParent(this);
    m_socket->setSslConfiguration(TlsSetup::configuration(own, channels, currentFormats));
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
}

ChannelSecurity DialAttempt::security() const
{
    return TlsSetup::securityOf(*m_socket, m_own.fingerprint);
}

DialAttempt::Outcome DialAttempt::handOver(const ChannelSecurity &security)
{
    QSslSocket *socket = m_socket;
    m_socket = nullptr;
    socket->disconnect(this);
    socket->setParent(nullptr);
    return {Outcome::Kind::Encrypted, socket, security, 0, {}};
}

void DialAttempt::conclude(Outcome outcome)
{
    if (m_concluded) {
        if (outcome.socket) {
            outcome.socket->abort();
            outcome.socket->deleteLater();
        }
        return;
    }
    m_concluded = true;
    if (m_timer)
        m_timer->stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    report(std::move(outcome));
}
