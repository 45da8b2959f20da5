#pragma once

#include "directory/DirectoryProtocol.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class CallPath;
class IceClosings;
class IceModule;
class RelayLease;
class QSocketNotifier;
class QTimer;

// Finds paths for calls between two programs of this version that cannot call each other
// directly, through the directory server both are logged in to over an encrypted
// connection: the caller's offer (its ICE description) goes to the callee, whose answer
// comes back; then ICE punches through both routers or, where that fails, goes through the
// relay the server named. The call itself, with its TLS and its four words, then runs over
// the path exactly as over a direct connection (see PathDialer for the caller's side; the
// callee's channels are handed to the encrypted port's handshake).
class PathFinder : public QObject
{
    Q_OBJECT

public:
    struct Context
    {
        // Sends a text to the server over the encrypted pal connection; false when there
        // is no such connection (an older server, or none at all).
        std::function<bool(const QByteArray &)> sendToServer;
        // Whether there is such a connection now.
        std::function<bool()> serverPassesOffers;
        // A connection that came over a path, for the encrypted port's handshake.
        std::function<bool(int descriptor, const QHostAddress &peer)> adopt;
        std::function<void(const QString &)> logLine;
        // Whether a call is up or being set up now.
        std::function<bool()> callActive;
        // Asks the server for fresh relay credentials (setRelay follows when they come).
        std::function<void()> renewRelay = {};
        // The wall clock the relay credentials' lifetime is judged by (default: the system's).
        std::function<qint64()> clock = {};
        // Where the ICE module is looked for (default: IceModule::defaultFolders()).
        QStringList iceModuleFolders = {};
    };

    // Offers from others being answered at once; more are refused until one is done.
    static constexpr int MaxIncomingFinding = 2;
    // Paths kept at most, ready or finding; the oldest one no call runs over goes first.
    static constexpr int MaxPaths = 8;
    // A path no call has come over for this long is given up.
    static constexpr int UnusedPathMs = 60000;
    // A path a call ran over is kept this long after the call is over, so the call's last
    // words still reach the peer.
    static constexpr int CallOverMs = 10000;
    // A path about to be looked for while the relay credentials have run out waits this
    // long at most for fresh ones, then goes on without the relay.
    static constexpr int RenewalWaitMs = 3000;

    explicit PathFinder(Context context, QObject *parent = nullptr);
    ~PathFinder() override;

    // What the server said about its relay (nothing: it has none, or is gone).
    void setRelay(const std::optional<DirectoryProtocol::RelayAccess> &relay);

    // A call is about to be placed to the user known to the server as `target` (an e-mail
    // or a user number), who listens at address:port: a path is looked for beside the
    // direct way, when the server can pass an offer.
    void prepareCall(const QString &target, const QString &address, int port);

    // The texts of the server.
    void offerArrived(const DirectoryProtocol::RelayedOffer &offer);
    void answerArrived(const DirectoryProtocol::CallAnswer &answer);
    void endArrived(const DirectoryProtocol::CallEnd &end);

    // The path being found or found to whoever listens at (dotted address, base port).
    CallPath *pathTo(const QString &address, int basePort) const;
    int pathCount() const { return int(m_paths.size()); }
    // The connection to the server went: paths still being found cannot be finished.
    void serverLost();
    // The call to the peer at (address, base port) went directly: the path being found
    // for it is not needed.
    void directCallMade(const QString &address, int basePort);
    // The call is over: the paths it ran over are given up once its last words are through.
    void callEnded();
    void shutdown();
    // After shutdown(): runs the event loop until the relay has been told to let go of
    // every path's allocations, or `ms` have passed; whether it was.
    bool waitForReleases(int ms);

signals:
    // A call came in over a path: how it came.
    void incomingWayKnown(const QString &address, CallPath *path);

private:
    CallPath *add(std::unique_ptr<CallPath> path);
    // Gathers the path's candidates with the relay, once its credentials are good.
    void gatherWithRelay(CallPath *path);
    void gatherNow(CallPath *path);
    void remove(CallPath *path);
    void answer(CallPath *path, const DirectoryProtocol::RelayedOffer &offer);
    // The callee hands each channel's socket to the handshake when the caller's first
    // bytes arrive on it: a channel the caller never opens never holds a handshake place.
    void handOverWhenUsed(CallPath *path);
    void end(CallPath *path, const QString &reason, bool tellPeer);
    void trim();
    // A call runs (or ran) over the path: the caller's control connection went over it, or
    // the callee's came over it.
    bool inCall(CallPath *path) const;

    Context m_;
    // Loaded when the first path is looked for.
    std::unique_ptr<IceModule> m_ice;
    RelayLease *m_relayLease;
    IceClosings *m_closings;
    // Paths waiting for fresh relay credentials before they gather.
    QList<QPointer<CallPath>> m_awaitingRelay;
    QHash<QByteArray, CallPath *> m_paths;
    // The callee's channel sockets not yet handed over, by path.
    QHash<CallPath *, QList<QSocketNotifier *>> m_waiting;
    QSet<CallPath *> m_inCall;
    QElapsedTimer m_clock;
    QHash<CallPath *, qint64> m_bornMs;
    QTimer *m_trimTimer;
};
