#include "path/PathDialer.h"

#include "core/EndpointConnection.h"
#include "core/EndpointError.h"
#include "core/PeerChannel.h"
#include "path/CallPath.h"
#include "secure/SecureDialer.h"

#include <QHostAddress>
#include <QPointer>

// One channel's way to a peer for which a path is being found. The control channel tries
// the direct way first and takes the path only when that does not give an encrypted
// connection; the others go the way the control connection went.
class PathDialer::Attempt : public QObject
{
public:
    Attempt(PathDialer *owner, CallPath *path, const QHostAddress &address, int port, PeerChannel channel,
            std::function<void(Outcome)> done)
        : m_owner(owner)
        , m_path(path)
        , m_address(address)
        , m_port(port)
        , m_channel(channel)
        , m_done(std::move(done))
    {
    }

    void start()
    {
        if (m_channel == PeerChannel::Control || !m_path->carriesCall()) {
            m_inner = m_owner->m_direct.dialBesidePath(m_address, m_port, m_channel, [this](Outcome outcome) {
                m_inner.release()->deleteLater();
                directDone(std::move(outcome));
            });
            return;
        }
        overPath();
    }

private:
    void directDone(Outcome outcome)
    {
        const bool mayTakePath = m_channel == PeerChannel::Control || m_channel == PeerChannel::Message;
        if (outcome.kind == Outcome::Kind::Encrypted || !mayTakePath || !m_path
            || m_path->state() == CallPath::State::Failed) {
            if (m_channel == PeerChannel::Control)
                emit m_owner->callWayKnown(EndpointConnection::dottedAddress(m_address), m_port, nullptr);
            deliver(std::move(outcome));
            return;
        }
        m_fallback = std::move(outcome);
        overPath();
    }

    void overPath()
    {
        if (!m_path) {
            deliver(m_fallback ? *m_fallback : refused(PathDialer::tr("The path to the peer is gone")));
            return;
        }
        switch (m_path->state()) {
        case CallPath::State::Ready:
            break;
        case CallPath::State::Failed:
            deliver(m_fallback ? *m_fallback : refused(m_path->failure()));
            return;
        case CallPath::State::Finding:
            connect(m_path, &CallPath::ready, this, [this] { overPath(); });
            connect(m_path, &CallPath::failed, this, [this] { overPath(); });
            return;
        }
        m_path->disconnect(this);
        const int descriptor = m_path->takeSocket(m_channel);
        if (descriptor < 0) {
            // A second quick message in one call goes the usual way.
            deliver(m_fallback ? *m_fallback : refused(PathDialer::tr("The path to the peer is in use")));
            return;
        }
        if (m_channel == PeerChannel::Control)
            emit m_owner->callWayKnown(EndpointConnection::dottedAddress(m_address), m_port, m_path);
        m_inner = m_owner->m_direct.dialOver(descriptor, m_address, m_port, m_channel, [this](Outcome outcome) {
            m_inner.release()->deleteLater();
            deliver(std::move(outcome));
        });
    }

    static Outcome refused(const QString &why)
    {
        return {Outcome::Kind::Refused, nullptr, {}, EndpointError::SocketError, why};
    }

    void deliver(Outcome outcome)
    {
        if (m_delivered)
            return;
        m_delivered = true;
        m_done(std::move(outcome));
    }

    PathDialer *m_owner;
    QPointer<CallPath> m_path;
    QHostAddress m_address;
    int m_port;
    PeerChannel m_channel;
    std::function<void(Outcome)> m_done;
    std::unique_ptr<QObject> m_inner;
    std::optional<Outcome> m_fallback;
    bool m_delivered = false;
};

PathDialer::PathDialer(SecureDialer &direct, PathLookup paths, QObject *parent)
    : QObject(parent)
    , m_direct(direct)
    , m_paths(std::move(paths))
{
}

std::unique_ptr<QObject> PathDialer::dial(const QHostAddress &address, int port, PeerChannel channel,
                                          std::function<void(Outcome)> done)
{
    CallPath *path = m_paths ? m_paths(EndpointConnection::dottedAddress(address), PortPlan::base(port, channel)) : nullptr;
    if (!path) {
        if (channel == PeerChannel::Control) {
            // Reported once the direct way has answered, as a way through a path would be.
            return m_direct.dial(address, port, channel, [this, address, port, done](Outcome outcome) {
                if (outcome.kind != Outcome::Kind::Refused)
                    emit callWayKnown(EndpointConnection::dottedAddress(address), port, nullptr);
                done(std::move(outcome));
            });
        }
        return m_direct.dial(address, port, channel, std::move(done));
    }
    auto attempt = std::make_unique<Attempt>(this, path, address, port, channel, std::move(done));
    attempt->start();
    return attempt;
}
