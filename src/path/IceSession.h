#pragma once

#include "protocol/DirectoryProtocol.h"
#include "path/IceDescription.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>
#include <vector>

class IceAgent;
class IceClosings;
class IceModule;

// One ICE session of one call: a path between two programs that may both sit behind
// routers forwarding nothing, found by ICE (libnice) and kept reliable by its pseudo-TCP,
// one component per channel of the call. Each component is handed out as a connected
// local stream socket, so the call's channels run over it exactly as over a TCP
// connection: their TLS (with the programs' own keys, and so the four words compared) sits
// on the socket unchanged, and a relay in between sees only TLS records. That is why each
// channel gets a pseudo-TCP stream of its own rather than the call getting one datagram
// path: nothing above the socket changes, and nothing new needs securing.
//
// Use: gather(), and on gathered() send localDescription() to the peer (the directory
// server carries it); start() with the peer's description; on ready(), takeSocket() once
// for each component and put TLS on it. failed() comes instead of gathered() or ready()
// when no path can be had; ended() when a path that was ready is lost. After either the
// session does nothing more and every local socket sees its end; delete it at any time.
//
// Everything runs on the main thread's event loop. The agent (libnice, loaded with its
// module when the first session gathers: see IceModule) runs on GLib's default context, which on Linux is the one Qt's event loop runs
// (Qt's GLib event dispatcher iterates g_main_context_default() on the main thread), so no
// thread of its own is needed. A program whose loop does not run GLib's (QT_NO_GLIB set)
// has the session fail at once with a reason saying so, instead of waiting for ever; so
// does a program whose ICE module cannot be loaded.
class IceSession : public QObject
{
    Q_OBJECT

public:
    // The caller is the controlling agent, the callee the controlled one.
    enum class Role { Caller, Callee };
    // How the path runs, judged from the selected pairs: a relay on either side on any
    // component is Relayed, else a server- or peer-reflexive candidate (an address a router
    // made) is Punched, else host to host is Direct.
    enum class Route { Direct, Punched, Relayed };

    // Gathering gives up waiting after this long and goes on with what it has.
    static constexpr int GatherMs = 5000;
    // start() to ready() may take this long, or the session fails.
    static constexpr int ConnectMs = 15000;
    // Bytes a component's pump holds per direction: it reads no more from either side
    // until they are passed on, so a session holds at most twice this per component.
    static constexpr int ChunkBytes = 16384;

    // `components` channels, numbered 1 to components (the call uses 4); the agent comes
    // from `module`, which outlives the session.
    IceSession(Role role, int components, IceModule *module, QObject *parent = nullptr);
    ~IceSession() override;

    // Before gather(): the relay (TURN over UDP and over TCP on its port); its address also
    // serves as the STUN server. The host may be a name; it is looked up when gathering
    // starts. Its tlsPort is not used: libnice speaks TURN over TLS only in other
    // compatibility modes, and would send plain TCP to a standard relay's TLS port.
    void setRelay(const DirectoryProtocol::RelayAccess &relay);
    // Before gather(): the addresses host candidates are gathered on; by default every
    // address of the machine except loopback.
    void setLocalAddresses(const QList<QHostAddress> &addresses);
    // Where the agent goes to be closed when the session ends, so that the owner can wait
    // for its relay to have let go (without: closed all the same, waited for by nobody).
    void setClosings(IceClosings *closings);
    // Test knob, before gather(): offer and use only relayed candidates, so tests prove the
    // relay path without routers. Never set by the program.
    void setRelayOnlyForTests(bool relayOnly);

    // Gathers this side's candidates; gathered() or failed() follows.
    void gather();
    // After gathered(): what the peer needs, bounded to fit its text (the most preferred
    // candidates of every component first).
    IceDescription localDescription() const;
    // After gathered(): checks the paths to the peer's description; ready() or failed()
    // follows. False, and nothing done, for a description that is not valid, holds a line
    // the agent cannot read or a component it does not have, leaves a component without a
    // candidate, or comes at the wrong time.
    bool start(const IceDescription &remote);

    // After ready().
    Route route() const { return m_route; }
    // After ready(): the connected local stream socket of a component (1 to components),
    // owned by the caller from then on; -1 for a component taken before, unknown, or
    // when not ready. Closing it ends the component's direction towards the peer.
    int takeSocket(int component);

    // The bytes the session's pumps hold now, for watching that they stay bounded.
    qint64 bufferedBytes() const;

    bool isReady() const { return m_state == State::Ready; }

    static const char *routeName(Route route);

signals:
    void gathered();
    void ready();
    void failed(const QString &why);
    void ended(const QString &why);

private:
    enum class State { Idle, Resolving, Gathering, Gathered, Checking, Ready, Over };
    struct Channel;
    struct Glue;
    friend struct Glue;
    Channel *channel(int component);

    void beginGathering();
    void gatheringDone();
    void fail(const QString &why);
    void settle();
    void wake();
    void pumpInbound(Channel &channel);
    void pumpOutbound(Channel &channel);
    void armReadable(Channel &channel, bool on);
    void finishOutbound(Channel &channel);
    void channelBroke(Channel &channel, const QString &why);
    bool channelDone(const Channel &channel) const;
    void release();
    Route judgeRoute() const;

    Role m_role;
    int m_componentCount;
    IceModule *m_module;
    DirectoryProtocol::RelayAccess m_relay;
    QString m_relayAddress;
    QList<QHostAddress> m_localAddresses;
    bool m_relayOnly = false;
    QPointer<IceClosings> m_closings;

    State m_state = State::Idle;
    std::unique_ptr<Glue> m_glue;
    std::unique_ptr<IceAgent> m_agent;
    std::vector<std::unique_ptr<Channel>> m_channels;
    IceDescription m_local;
    Route m_route = Route::Direct;

    bool m_gatherDone = false;
    // What settle() has yet to tell: at most one outcome, told once.
    QString m_failure;
    bool m_ended = false;
    bool m_failurePending = false;
    bool m_endPending = false;
    bool m_gatheredPending = false;
    bool m_readyPending = false;

    QTimer m_gatherTimer;
    QTimer m_connectTimer;
    QTimer m_settleTimer;
    int m_lookupId = -1;
};
