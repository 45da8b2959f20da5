#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// A real TURN relay (coturn's turnserver) for programs that cannot reach each other:
// time-limited credentials made from a shared secret (--use-auth-secret, the secret in an
// owner-only file the directory server reads too), UDP and TCP on port 3478, no TLS, no
// DTLS, no command interface. It logs to a file of its own, which says how many
// allocations it made and how many bytes it relayed. It does not outlive its runner.
class TurnRelay
{
public:
    static constexpr int Port = 3478;
    // Its relay ports, above the ephemeral ports Linux picks from (32768-60999), so that a
    // capture filtered on them holds the relay's traffic alone, never another program's
    // connection from the same machine.
    static constexpr int FirstRelayPort = 61000;
    static constexpr int LastRelayPort = 61999;

    TurnRelay() = default;
    ~TurnRelay();
    TurnRelay(const TurnRelay &) = delete;
    TurnRelay &operator=(const TurnRelay &) = delete;

    // The turnserver program, empty when it is not installed.
    static QString program();

    // Starts it with `where` before its command line (a machine's "ip netns exec"),
    // listening and relaying on `address`, its files in `folder`; waits until it listens.
    bool start(const QStringList &where, const QString &address, const QString &folder, QString *why);
    // The same on this machine's own network, listening on `port` and relaying on the
    // `relayPorts` above it (a test's own ports, not the fixed ones of a machine of its own).
    bool startOn(const QString &address, int port, int relayPorts, const QString &folder, QString *why);
    // The port it listens on.
    int port() const { return m_port; }
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    // Ends it at once, as a crash or a power cut does: the allocations vanish unannounced.
    void kill();
    // Ends it politely (also when the owner goes).
    void stop();

    QString secret() const { return m_secret; }
    // The file holding the secret alone, as --relay-secret-file takes it.
    QString secretFile() const { return m_secretFile; }
    QString realm() const { return QStringLiteral("zelmo.test"); }
    QString logFile() const { return m_logFile; }

    // What the relay's log says so far.
    struct Usage
    {
        // Allocations made ("session N: new") and requests refused for bad credentials.
        int allocations = 0;
        int refusals = 0;
        // Allocations ended ("closed"), and bytes relayed to and from peers: the sum over
        // the allocations of the last count each reported. coturn reports an allocation's
        // count when it ends and after every 4096 packets it handled.
        int closed = 0;
        qint64 relayedBytes = 0;
    };
    Usage usage() const;
    // The end of its log, for failure messages.
    QString logTail(int lines = 30) const;

private:
    QProcess m_process;
    QString m_secret;
    QString m_secretFile;
    QString m_logFile;
    int m_port = Port;
    int m_firstRelayPort = FirstRelayPort;
    int m_lastRelayPort = LastRelayPort;
};
