#include "path/CallPath.h"

#include "path/IceSession.h"

CallPath::CallPath(std::unique_ptr<IceSession> session, Role role, const QByteArray &callId,
                   const QHostAddress &peer, int basePort, QObject *parent)
    : QObject(parent)
    , m_session(std::move(session))
    , m_role(role)
    , m_callId(callId)
    , m_peer(peer)
    , m_basePort(basePort)
{
    connect(m_session.get(), &IceSession::ready, this, [this] {
        if (m_state != State::Finding)
            return;
        m_state = State::Ready;
        emit ready();
    });
    connect(m_session.get(), &IceSession::failed, this, [this](const QString &why) { fail(why); });
    connect(m_session.get(), &IceSession::ended, this, [this](const QString &why) {
        if (m_state == State::Ready)
            emit ended(why);
    });
}

CallPath::~CallPath() = default;

CallPath::Way CallPath::way() const
{
    switch (m_session->route()) {
    case IceSession::Route::Direct:
        return Way::Direct;
    case IceSession::Route::Punched:
        return Way::ThroughRouters;
    case IceSession::Route::Relayed:
        return Way::Relayed;
    }
    return Way::Direct;
}

int CallPath::takeSocket(PeerChannel channel)
{
    if (m_state != State::Ready || isTaken(channel))
        return -1;
    m_taken |= 1u << int(channel);
    return m_session->takeSocket(int(channel) + 1);
}

void CallPath::fail(const QString &why)
{
    if (m_state != State::Finding)
        return;
    m_state = State::Failed;
    m_failure = why;
    emit failed(why);
}

QString CallPath::wayText(Way way)
{
    switch (way) {
    case Way::Direct:
        return tr("direct");
    case Way::ThroughRouters:
        return tr("through the routers");
    case Way::Relayed:
        return tr("relayed");
    }
    return {};
}
