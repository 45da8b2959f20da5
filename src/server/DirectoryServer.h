#pragma once

#include "directory/DirectoryProtocol.h"
#include "server/CallTable.h"
#include "server/ConnectionPool.h"
#include "server/RelayCredentials.h"
#include "server/Registry.h"
#include "server/RepeatedEvents.h"
#include "server/ServerConfig.h"
#include "server/SourceQuota.h"
#include "server/UserRegistry.h"
#include "secure/TlsSetup.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <deque>
#include <optional>

class QTimer;
class ReachabilityProbe;

// The companion server: the directory protocol on one port and the pal protocol on
// another, answered from a registry of who is on line that this node keeps alone or
// shares with other nodes. Every message is untrusted: lines are bounded, a client that
// never ends its line or never reads is dropped, and a login only ever changes the entry
// of its own connection. Answers keep the order of the questions on each connection, also
// when the shared registry answers later.
class DirectoryServer : public QObject
{
    Q_OBJECT

public:
    enum class Channel : int { Directory = 0, Pal = 1 };

    // The longest line a client may send, and what may wait unsent for a slow reader
    // (a full list of 500 users fits several times).
    static constexpr int MaxLineBytes = 4096;
    static constexpr int MaxPendingOutput = 1024 * 1024;
    // Text fields of a login are kept to this many characters.
    static constexpr int MaxFieldChars = 64;
    // On an encrypted connection: the longest text of a call, "CLO;id;target;description;"
    // with a target as long as a login's e-mail can be (MaxFieldChars UTF-16 units, each
    // at most three bytes of UTF-8), and no more.
    static constexpr int MaxEncryptedLineBytes = 4 + DirectoryProtocol::CallIdLength + 1 + 3 * MaxFieldChars + 1
                                                 + DirectoryProtocol::MaxPathDescription + 1;
    // Connections beyond two per user: clients still logging in, or being turned away.
    static constexpr int SpareConnections = 64;
    // Open files the process keeps for itself (database, registry, standard streams).
    static constexpr int ReservedFiles = 64;
    // A connection that has not logged in within this time is closed: a client logs in
    // (or asks for its number first) as soon as it connects, so one that stays silent, or
    // drips its first line byte by byte, only holds a place another user may need.
    static constexpr int LoginDeadlineMs = 30000;
    // Answers one connection may have outstanding: past this nothing more is read from it
    // until they are out, so a client asking thousands of questions at once holds no more
    // than this of the registry's time and of this process's memory.
    static constexpr int MaxOutstandingAnswers = 8;
    // Repeated events from one address are summed up this often.
    static constexpr int SummaryPeriodMs = 60000;

    // What the node has done since it started.
    struct Counters
    {
        quint64 logins = 0;
        quint64 lookups = 0;
        quint64 lists = 0;
    };

    explicit DirectoryServer(ServerConfig config, QObject *parent = nullptr);
    ~DirectoryServer() override;

    // Opens the registry and starts listening on both ports. False with a reason.
    bool start(QString *error);
    // Closes every connection, stops listening and leaves the registry.
    void stop();

    // Applies to connections opened from now on.
    void setLoginDeadline(int ms) { m_loginDeadlineMs = ms; }
    // How often repeated events are summed up (tests shorten it).
    void setSummaryPeriod(int ms);

    // An operator notice to every directory client ("MSG").
    void broadcast(const QString &text);

    // The fingerprint of the key TLS clients see (empty before start or without TLS).
    QByteArray keyFingerprint() const { return m_keyFingerprint; }
    // Where the node keeps its own key in its data folder.
    static QString keyPath(const QString &dataDir);

    int directoryPort() const;
    int palPort() const;
    // Connections this node can hold: two per user allowed and some spare, within what
    // the open-file limit leaves.
    int capacity() const { return m_pool.limits().maxConnections; }
    // Connections open now on both ports, logged in or not.
    int connectionCount() const { return m_pool.count(); }
    const ServerConfig &config() const { return m_config; }
    // This node's users.
    const UserRegistry &users() const { return m_users; }
    Registry &registry() { return *m_registry; }
    const Counters &counters() const { return m_counters; }
    // The figures of the last period: users, connections, and logins, lookups and list
    // requests a second.
    QString statsLine();
    // This node as it reports itself to the registry.
    NodeInfo selfInfo() const;

signals:
    // One line per login and logout, for turned-away clients, and the figures; lookups and
    // list requests only when verbose. Every peer text in it is made one clean line, and
    // what one address repeats is summed up.
    void logLine(const QString &line);

private:
    using Handle = ConnectionPool::Handle;
    struct Waiting
    {
        quint64 ticket = 0;
        bool ready = false;
        QByteArray text;
    };

    void onLine(Handle handle, const QByteArray &text);
    void onClosed(Handle handle, Channel channel);
    void onLogin(Channel channel, Handle handle, const DirectoryProtocol::Login &login);
    // The login's e-mail and number, as far as their owners let it use them, go on line.
    void demoteOthers(Handle owner, const Registry::Claim &claim);
    void admit(Channel channel, Handle handle, UserRegistry::User user, bool again);
    // The TLS configuration of both ports; false with the reason.
    bool setUpTls(QString *error);
    bool serveTls(const TlsSetup::Credentials &own, const QList<QSslCertificate> &chain, QString *error);
    void onEmailLookup(Channel channel, Handle handle, const QString &email);
    // "CLO", "CLA" and "CLX" of a program logged in with its key over TLS; from anyone
    // else they are ignored, as by a server of the published protocol.
    void onCallText(Handle handle, const DirectoryProtocol::FromClient &message);
    void onCallOffer(Handle handle, const UserRegistry::User &caller, const DirectoryProtocol::CallOffer &offer);
    // The connection of the program logged in with its key over TLS with this e-mail (or
    // its number, when the target is all digits), the pal connection first; 0: none.
    Handle callTarget(const QString &target, Handle caller) const;
    // Where a program finds the relay, with credentials of its own ("RLY").
    void sendRelayAccess(Handle handle, const UserRegistry::User &user);
    void onNumberRequest(Handle handle);
    void turnAway(Channel channel, Handle handle);
    // Closes the connection, logging the reason.
    void drop(Handle handle, const QString &why);
    std::optional<NodeInfo> lessLoadedNode() const;
    QVector<DirectoryProtocol::ServerEntry> serverList() const;
    // Sends now, or after the answers still awaited on the connection.
    void reply(Handle handle, const QByteArray &text);
    // A place in the connection's answer order, filled later by fulfil().
    quint64 hold(Handle handle);
    void fulfil(Handle handle, quint64 ticket, const QByteArray &text);
    void send(Handle handle, const QByteArray &text);
    void heartbeat();
    void onOpened(Handle handle);
    // Closes the connections whose time to log in is over, and waits for the next one.
    void enforceLoginDeadlines();
    // Logins, lookups and list requests a second since the last call with the same marks.
    struct Period
    {
        Counters counters;
        QElapsedTimer clock;
    };
    NodeInfo rates(Period &period) const;
    QString who(Channel channel, Handle handle, const UserRegistry::User &user) const;
    // How the answers to this client give users on this machine (who reached the node
    // over loopback): empty for a client on this machine, else the advertised host or the
    // address the client connected to.
    QString loopbackHostFor(Handle asker) const;
    void log(const QString &line);
    // A line a peer can cause again and again: logged within its budget, else counted.
    void logRepeated(const QString &address, const QString &kind, const QString &line, int budget = -1);
    void summarise();
    // Answers after the connection's outstanding answers went below the bound.
    void readOnIfRoom(Handle handle);

    ServerConfig m_config;
    ConnectionPool m_pool;
    UserRegistry m_users;
    Registry *m_registry;
    // Pal connections that were already given a number (or are being given one).
    QSet<Handle> m_numbered;
    QHash<Handle, std::deque<Waiting>> m_waiting;
    quint64 m_nextTicket = 1;
    QTimer *m_heartbeat;
    // Connections in the order they opened, each with the time by which it must have
    // logged in; one timer serves them all, however many connect at once.
    std::deque<std::pair<qint64, Handle>> m_loginDue;
    QElapsedTimer m_clock;
    QTimer *m_loginDeadline;
    // Answers the clients' reachability checks.
    ReachabilityProbe *m_reach;
    int m_loginDeadlineMs = LoginDeadlineMs;
    QTimer *m_stats;
    QTimer *m_summary;
    RepeatedEvents m_repeats;
    SourceQuota m_numberQuota;
    // Logged-in connections from each source.
    QHash<QString, int> m_loginsBySource;
    Counters m_counters;
    // The operator's figures and the registry's reports each count over their own period.
    Period m_statsPeriod;
    Period m_reportPeriod;
    NodeInfo m_lastRates;
    // The address a client from another machine last connected to.
    QString m_reachedAt;
    QByteArray m_keyFingerprint;
    // Logins whose claims the registry is settling: nothing more is read from them meanwhile.
    QSet<Handle> m_settling;
    // The calls whose texts pass between two programs.
    CallTable m_calls;
    QTimer *m_callSweep;
    std::optional<RelayCredentials> m_relay;
    bool m_running = false;
    bool m_stopping = false;
};
