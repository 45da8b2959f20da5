#pragma once

#include "core/ChannelSecurity.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <memory>

class IceSession;

// One path between this program and a peer for one call, found through the directory
// server when neither can be called directly: hole punching through both routers, or a
// relay. Each of the call's four channels has a component of its own, handed out once as a
// local socket that the channel's TLS connection sits on.
class CallPath : public QObject
{
    Q_OBJECT

public:
    enum class State { Finding, Ready, Failed };
    enum class Role { Caller, Callee };
    // The way the call's channels went, as the main window names it beside the lock.
    enum class Way { Direct, ThroughRouters, Relayed };

    // `peer` and `basePort` are how the call knows the peer: the address and port it dials
    // (the caller's), or the address the server saw the caller at (the callee's).
    CallPath(std::unique_ptr<IceSession> session, Role role, const QByteArray &callId, const QHostAddress &peer,
             int basePort, QObject *parent = nullptr);
    ~CallPath() override;

    IceSession &session() { return *m_session; }
    Role role() const { return m_role; }
    QByteArray callId() const { return m_callId; }
    QHostAddress peer() const { return m_peer; }
    int basePort() const { return m_basePort; }
    State state() const { return m_state; }
    QString failure() const { return m_failure; }
    Way way() const;

    // The local socket of the channel's component: once, when ready; -1 otherwise.
    int takeSocket(PeerChannel channel);
    bool isTaken(PeerChannel channel) const { return m_taken & (1u << int(channel)); }
    // The call's control connection went over this path (so its other channels follow it).
    bool carriesCall() const { return isTaken(PeerChannel::Control); }

    // The finding ends without a path (the server or the peer said no, or it was given up).
    void fail(const QString &why);

    static QString wayText(Way way);

signals:
    void ready();
    void failed(const QString &why);
    // A path that was ready broke (the relay or the peer went away).
    void ended(const QString &why);

private:
    std::unique_ptr<IceSession> m_session;
    Role m_role;
    QByteArray m_callId;
    QHostAddress m_peer;
    int m_basePort;
    State m_state = State::Finding;
    QString m_failure;
    unsigned m_taken = 0;
};
