#pragma once

#include "protocol/DirectoryProtocol.h"
#include "server/RedisLink.h"

#include <QString>
#include <QVector>
#include <optional>

// How one companion server runs: where it listens, what it tells its users, how many it
// takes, where it keeps the user numbers and whom it shares them with.
struct ServerConfig
{
    // Numeric address to listen on; empty for every interface.
    QString listenAddress;
    int directoryPort = 2010;
    int palPort = 2015;
    // The answer to "INT".
    QString notice;
    // Sent as "VCL" after each directory login, before the nodes of a shared registry.
    QVector<DirectoryProtocol::ServerEntry> servers;
    // Users on line beyond this are turned away: "RDM" to a node of the shared registry
    // with room, else to the redirect target when there is one, else "BSY".
    int maxUsers = 10000;
    std::optional<DirectoryProtocol::ServerEntry> redirect;
    // Folder of the embedded registry's database.
    QString dataDir;
    // A registry shared with other nodes; none: the embedded one in dataDir.
    std::optional<RedisAddress> redis;
    // How users reach this node, as other nodes name it in "RDM" and "VCL". None: the
    // listen address (or the host name) and the directory port.
    std::optional<DirectoryProtocol::ServerEntry> advertise;
    // How long this node's users stay listed after its last report, should it die. It
    // reports four times within this time.
    int expiryMs = 20000;
    // The operator's figures come this often (0: never).
    int statsIntervalMs = 10000;
    // Every lookup and list request logged, and nothing summed up.
    bool verbose = false;
    // What one address (an IPv6 /64) may hold: open connections, and logged-in entries on
    // both ports. Far above what a household or an office behind one address needs.
    int maxConnectionsPerAddress = 64;
    int maxLoginsPerAddress = 64;
    // User numbers one address is given: this many at once, then this many a minute.
    int numberBurst = 10;
    int numbersPerMinute = 3;
    // Once every number has been handed out, one that was never used for a login this long
    // after it was handed out is handed out again.
    qint64 reclaimUnusedNumbersAfterMs = 24 * 3600 * 1000;
    // E-mails one key may own: enough for a person's few addresses, too few to hoard a
    // domain (0: no bound).
    int maxEmailsPerKey = 5;
    // What a key owns is free again for another key once the key has not logged in for
    // this long (0: never).
    qint64 ownershipLapseMs = 180LL * 24 * 3600 * 1000;
    // Clients are served encrypted, with the node's own key (made in dataDir at the first
    // start) or with a certificate and key the operator gives: on each port's encrypted
    // port (PortPlan::encrypted of the port, where clients look first), and on the port
    // itself to clients that open with TLS.
    bool tls = true;
    QString tlsCertFile;
    QString tlsKeyFile;
    // The relay (a TURN server) this server's programs use when no direct path between
    // two of them can be found, with the secret the two share: each program logged in
    // with its key over TLS is told it, with credentials good for relayLifetimeSeconds.
    // Host "0.0.0.0" (or "::") is the address the program reached this server at. None:
    // no relay is named.
    std::optional<DirectoryProtocol::ServerEntry> relay;
    QString relaySecretFile;
    // The relay's TLS port; 0: none.
    int relayTlsPort = 0;
    int relayLifetimeSeconds = 86400;

    // "HOST:PORT:DESCRIPTION" (the description may hold ":" itself, and may be missing).
    // Nothing when the host is empty or the port is not 1 to 65535.
    static std::optional<DirectoryProtocol::ServerEntry> parseTarget(const QString &text);
    // "HOST[:PORT]", an IPv6 address in brackets when a port follows ("[::1]:3478");
    // `defaultPort` without one. Nothing when the host is empty or the port unusable.
    static std::optional<DirectoryProtocol::ServerEntry> parseHostPort(const QString &text, int defaultPort);
};
