#include "ZelmoRevision.h"
#include "core/CrashReport.h"
#include "core/TerminationSignals.h"
#include "server/DirectoryServer.h"
#include "server/OperatorInput.h"
#include "server/RedisRegistry.h"
#include "server/SqliteRegistry.h"
#include "server/SqliteStore.h"
#include "tls/Identity.h"
#include "tls/TlsSetup.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QHostAddress>
#include <QStandardPaths>
#include <algorithm>
#include <cstdio>

#include <sys/resource.h>

namespace {

void printLine(const QString &line)
{
    const QString stamped = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss ")) + line;
    std::fprintf(stdout, "%s\n", qPrintable(stamped));
    std::fflush(stdout);
}

int usageError(const QString &text)
{
    std::fprintf(stderr, "zelmo-directory: %s\nTry zelmo-directory --help\n", qPrintable(text));
    return 2;
}

// "--stats": what each node of the registry last reported.
int printStats(const ServerConfig &config)
{
    QVector<NodeInfo> nodes;
    QString error;
    const bool ok = config.redis ? RedisRegistry::readNodes(*config.redis, &nodes, &error)
                                 : SqliteRegistry::readNodes(config.dataDir, &nodes, &error);
    if (!ok) {
        std::fprintf(stderr, "zelmo-directory: %s\n", qPrintable(error));
        return 1;
    }
    const QString where = config.redis ? config.redis->text() : config.dataDir;
    std::printf("%lld node%s in %s\n", static_cast<long long>(nodes.size()), nodes.size() == 1 ? "" : "s",
                qPrintable(where));
    for (const NodeInfo &n : nodes) {
        std::printf("  node %s %s:%d (%s), pal port %d: %d users (%d listed) of at most %d, %d connections; "
                    "%.1f logins/s, %.1f lookups/s, %.1f list requests/s; reported %.1f s ago%s\n",
                    qPrintable(n.id), qPrintable(n.directory.Host), n.directory.Port,
                    qPrintable(n.directory.Description), n.palPort, n.users, n.listed, n.maxUsers, n.connections,
                    n.loginsPerSecond, n.lookupsPerSecond, n.listsPerSecond, n.reportAgeMs / 1000.0,
                    n.up ? "" : ", NOT REPORTING: its users no longer count");
    }
    // The key this folder gives a node that serves TLS with its own key.
    Identity key;
    const QString keyPath = DirectoryServer::keyPath(config.dataDir);
    switch (key.load(keyPath)) {
    case Identity::Check::Ready:
        std::printf("key fingerprint (%s): %s\n", qPrintable(keyPath),
                    qPrintable(TlsSetup::fingerprintText(key.fingerprint())));
        break;
    case Identity::Check::Missing:
        std::printf("no key in %s yet: a node makes it at its first start\n", qPrintable(keyPath));
        break;
    case Identity::Check::Corrupt:
    case Identity::Check::Exposed:
    case Identity::Check::Link:
        std::printf("the key file %s cannot be used (damaged, readable by others, or a link)\n", qPrintable(keyPath));
        break;
    }
    return 0;
}

bool readPort(const QString &text, int *port)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 1 || value > 65535)
        return false;
    *port = value;
    return true;
}

// "--release": the e-mail, and all else the key that owns it owns, is free again.
int releaseOwner(const ServerConfig &config, const QString &email)
{
    QString error;
    int freed = -1;
    if (config.redis) {
        freed = RedisRegistry::releaseOwner(*config.redis, email, &error);
    } else {
        SqliteStore store;
        if (store.open(config.dataDir, &error))
            freed = store.releaseOwner(email, &error);
    }
    if (freed < 0) {
        std::fprintf(stderr, "zelmo-directory: %s\n", qPrintable(error));
        return 1;
    }
    if (freed == 0)
        std::printf("<%s> is not bound to a key\n", qPrintable(email));
    else
        std::printf("released <%s>: %d names freed; the next login with a key may claim them%s\n", qPrintable(email),
                    freed, config.redis ? "" : " (restart a running node of this folder)");
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zelmo-directory"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZELMO_VERSION " (git " ZELMO_REVISION ")"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The ZELMO directory and pal server: lists who is on line, hands out user numbers and "
                       "tells users where their pals are.\nLines typed on standard input go to every "
                       "directory user as a notice."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption directoryPort(QStringLiteral("directory-port"),
                                           QStringLiteral("Directory port (default 2010)."), QStringLiteral("N"),
                                           QStringLiteral("2010"));
    const QCommandLineOption palPort(QStringLiteral("pal-port"), QStringLiteral("Pal port (default 2015)."),
                                     QStringLiteral("N"), QStringLiteral("2015"));
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Listen on this numeric address only (default: all interfaces)."),
                                    QStringLiteral("ADDRESS"));
    const QCommandLineOption notice(QStringLiteral("notice"), QStringLiteral("The notice shown to each user."),
                                    QStringLiteral("TEXT"));
    const QCommandLineOption server(QStringLiteral("server"),
                                    QStringLiteral("A directory server for the users' server list (repeatable)."),
                                    QStringLiteral("HOST:PORT:DESCRIPTION"));
    const QCommandLineOption maxUsers(QStringLiteral("max-users"),
                                      QStringLiteral("Users on line beyond this are turned away (default 10000)."),
                                      QStringLiteral("N"), QStringLiteral("10000"));
    const QCommandLineOption redirect(QStringLiteral("redirect"),
                                      QStringLiteral("Send users beyond --max-users to this directory server."),
                                      QStringLiteral("HOST:PORT:DESCRIPTION"));
    const QCommandLineOption data(QStringLiteral("data"),
                                  QStringLiteral("Keep the user numbers in this folder (default: %1).")
                                      .arg(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)),
                                  QStringLiteral("DIR"));
    const QCommandLineOption registry(
        QStringLiteral("registry"),
        QStringLiteral("Share who is on line, the user numbers and their e-mails with other nodes through this Redis "
                       "server (redis://HOST[:PORT][/DB]). Default: the embedded SQLite registry in --data."),
        QStringLiteral("URL"));
    const QCommandLineOption advertise(
        QStringLiteral("advertise"),
        QStringLiteral("How users reach this node, as other nodes name it in redirects and server lists (default: "
                       "the --listen address or the host name, and the directory port)."),
        QStringLiteral("HOST:PORT:DESCRIPTION"));
    const QCommandLineOption expiry(
        QStringLiteral("expiry"),
        QStringLiteral("Seconds this node's users stay listed after its last report to a shared registry, should "
                       "it die (default 20; it reports four times within them)."),
        QStringLiteral("SECONDS"), QStringLiteral("20"));
    const QCommandLineOption stats(QStringLiteral("stats"),
                                   QStringLiteral("Print what the nodes using this --data folder or --registry last "
                                                  "reported (users, logins, lookups and list requests a second), "
                                                  "then exit."));
    const QCommandLineOption statsEvery(QStringLiteral("stats-every"),
                                        QStringLiteral("Print the figures this often (default 10 seconds; 0: never)."),
                                        QStringLiteral("SECONDS"), QStringLiteral("10"));
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     QStringLiteral("Log every lookup and list request, and every repeated event one "
                                                    "by one (default: counted in the figures, repeats summed up "
                                                    "once a minute)."));
    const QCommandLineOption perAddress(
        QStringLiteral("max-connections-per-address"),
        QStringLiteral("Connections one address (an IPv6 /64) may hold on both ports together (default 64; 0: no "
                       "limit)."),
        QStringLiteral("N"), QStringLiteral("64"));
    const QCommandLineOption loginsPerAddress(
        QStringLiteral("max-logins-per-address"),
        QStringLiteral("Logins one address (an IPv6 /64) may hold on both ports together (default 64; 0: no limit)."),
        QStringLiteral("N"), QStringLiteral("64"));
    const QCommandLineOption numbersPerMinute(
        QStringLiteral("numbers-per-minute"),
        QStringLiteral("User numbers one address is given a minute, once it had --number-burst (default 3)."),
        QStringLiteral("N"), QStringLiteral("3"));
    const QCommandLineOption numberBurst(QStringLiteral("number-burst"),
                                         QStringLiteral("User numbers one address may be given at once (default 10)."),
                                         QStringLiteral("N"), QStringLiteral("10"));
    const QCommandLineOption reclaim(
        QStringLiteral("reclaim-numbers-after"),
        QStringLiteral("Once all user numbers are handed out, one never used for a login this many hours after it "
                       "was handed out is handed out again (default 24)."),
        QStringLiteral("HOURS"), QStringLiteral("24"));
    const QCommandLineOption emailsPerKey(
        QStringLiteral("max-emails-per-key"),
        QStringLiteral("E-mail addresses one key may own; a login claiming another is served without it "
                       "(default 5, 0: no bound)."),
        QStringLiteral("N"), QStringLiteral("5"));
    const QCommandLineOption ownershipLapse(
        QStringLiteral("ownership-lapse-days"),
        QStringLiteral("E-mails and numbers a key owns are free again for another key once the key has not "
                       "logged in for this many days (default 180, 0: never)."),
        QStringLiteral("DAYS"), QStringLiteral("180"));
    const QCommandLineOption tlsCert(
        QStringLiteral("tls-cert"),
        QStringLiteral("Serve TLS with this certificate chain (PEM) from a certificate authority instead of the "
                       "node's own key in --data."),
        QStringLiteral("FILE"));
    const QCommandLineOption tlsKey(QStringLiteral("tls-key"),
                                    QStringLiteral("The private key (PEM) of --tls-cert."), QStringLiteral("FILE"));
    const QCommandLineOption noTls(QStringLiteral("no-tls"),
                                   QStringLiteral("Serve the plain protocol only: no logins over TLS, so no user "
                                                  "owns an e-mail address or a number."));
    const QCommandLineOption release(
        QStringLiteral("release"),
        QStringLiteral("Free the e-mail address, and whatever else the key that owns it owns, for a user who lost "
                       "the key, then exit."),
        QStringLiteral("EMAIL"));
    const QCommandLineOption relay(
        QStringLiteral("relay"),
        QStringLiteral("Tell programs logged in with their key to use this relay (a TURN server sharing "
                       "--relay-secret-file) when no direct path between two of them is found; HOST 0.0.0.0: "
                       "this machine, at the address each program reached it at (default port 3478)."),
        QStringLiteral("HOST[:PORT]"));
    const QCommandLineOption relaySecret(
        QStringLiteral("relay-secret-file"),
        QStringLiteral("The secret shared with the relay (its static-auth-secret), in a file readable by its "
                       "owner only; read once at start."),
        QStringLiteral("FILE"));
    const QCommandLineOption relayTlsPort(QStringLiteral("relay-tls-port"),
                                          QStringLiteral("The relay's TLS port (default 0: none)."),
                                          QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption relayLifetime(
        QStringLiteral("relay-lifetime"),
        QStringLiteral("Seconds the relay credentials a program is given stay good (default 86400)."),
        QStringLiteral("SECONDS"), QStringLiteral("86400"));
    parser.addOptions({tlsCert, tlsKey, noTls, release, relay, relaySecret, relayTlsPort, relayLifetime});
    parser.addOptions({directoryPort, palPort, listen, notice, server, maxUsers, redirect, data, registry, advertise,
                       expiry, stats, statsEvery, verbose, perAddress, loginsPerAddress, numbersPerMinute, numberBurst,
                       reclaim, emailsPerKey, ownershipLapse});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));

    ServerConfig config;
    if (!readPort(parser.value(directoryPort), &config.directoryPort))
        return usageError(QStringLiteral("--directory-port wants a port from 1 to 65535"));
    if (!readPort(parser.value(palPort), &config.palPort))
        return usageError(QStringLiteral("--pal-port wants a port from 1 to 65535"));
    if (config.directoryPort == config.palPort)
        return usageError(QStringLiteral("the directory and pal ports must differ"));
    config.listenAddress = parser.value(listen).trimmed();
    if (!config.listenAddress.isEmpty() && QHostAddress(config.listenAddress).isNull())
        return usageError(QStringLiteral("--listen wants a numeric address, such as 127.0.0.1"));
    config.notice = parser.value(notice);
    for (const QString &text : parser.values(server)) {
        const auto target = ServerConfig::parseTarget(text);
        if (!target)
            return usageError(QStringLiteral("--server wants HOST:PORT:DESCRIPTION, not %1").arg(text));
        config.servers.append(*target);
    }
    bool ok = false;
    config.maxUsers = parser.value(maxUsers).toInt(&ok);
    if (!ok || config.maxUsers < 1)
        return usageError(QStringLiteral("--max-users wants a number of at least 1"));
    if (parser.isSet(redirect)) {
        config.redirect = ServerConfig::parseTarget(parser.value(redirect));
        if (!config.redirect)
            return usageError(QStringLiteral("--redirect wants HOST:PORT:DESCRIPTION"));
    }
    config.dataDir = parser.isSet(data) ? QDir(parser.value(data)).absolutePath()
                                        : QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (parser.isSet(registry) && parser.value(registry) != QLatin1String("sqlite")) {
        config.redis = RedisAddress::parse(parser.value(registry));
        if (!config.redis)
            return usageError(QStringLiteral("--registry wants redis://HOST[:PORT][/DB]"));
    }
    if (parser.isSet(advertise)) {
        config.advertise = ServerConfig::parseTarget(parser.value(advertise));
        if (!config.advertise)
            return usageError(QStringLiteral("--advertise wants HOST:PORT:DESCRIPTION"));
    }
    const double expirySeconds = parser.value(expiry).toDouble(&ok);
    if (!ok || expirySeconds < 1 || expirySeconds > 3600)
        return usageError(QStringLiteral("--expiry wants seconds from 1 to 3600"));
    config.expiryMs = int(expirySeconds * 1000);
    const double statsSeconds = parser.value(statsEvery).toDouble(&ok);
    if (!ok || statsSeconds < 0 || statsSeconds > 86400)
        return usageError(QStringLiteral("--stats-every wants seconds from 0 to 86400"));
    config.statsIntervalMs = int(statsSeconds * 1000);
    config.verbose = parser.isSet(verbose);
    const auto count = [&](const QCommandLineOption &option, int least, int *value) {
        bool good = false;
        *value = parser.value(option).toInt(&good);
        return good && *value >= least;
    };
    if (!count(perAddress, 0, &config.maxConnectionsPerAddress))
        return usageError(QStringLiteral("--max-connections-per-address wants a number of at least 0"));
    if (!count(loginsPerAddress, 0, &config.maxLoginsPerAddress))
        return usageError(QStringLiteral("--max-logins-per-address wants a number of at least 0"));
    if (!count(numbersPerMinute, 0, &config.numbersPerMinute))
        return usageError(QStringLiteral("--numbers-per-minute wants a number of at least 0"));
    if (!count(numberBurst, 1, &config.numberBurst))
        return usageError(QStringLiteral("--number-burst wants a number of at least 1"));
    if (!count(emailsPerKey, 0, &config.maxEmailsPerKey))
        return usageError(QStringLiteral("--max-emails-per-key wants a number of at least 0"));
    int lapseDays = 0;
    if (!count(ownershipLapse, 0, &lapseDays) || lapseDays > 36500)
        return usageError(QStringLiteral("--ownership-lapse-days wants days from 0 to 36500"));
    config.ownershipLapseMs = qint64(lapseDays) * 24 * 3600 * 1000;
    const double reclaimHours = parser.value(reclaim).toDouble(&ok);
    if (!ok || reclaimHours < 0.01 || reclaimHours > 24 * 365)
        return usageError(QStringLiteral("--reclaim-numbers-after wants hours from 0.01 to 8760"));
    config.reclaimUnusedNumbersAfterMs = qint64(reclaimHours * 3600 * 1000);
    config.tls = !parser.isSet(noTls);
    config.tlsCertFile = parser.value(tlsCert);
    config.tlsKeyFile = parser.value(tlsKey);
    if (config.tlsCertFile.isEmpty() != config.tlsKeyFile.isEmpty())
        return usageError(QStringLiteral("--tls-cert and --tls-key go together"));
    if (parser.isSet(relay)) {
        config.relay = ServerConfig::parseHostPort(parser.value(relay), 3478);
        if (!config.relay)
            return usageError(QStringLiteral("--relay wants HOST[:PORT], such as turn.example.org:3478"));
        if (!parser.isSet(relaySecret))
            return usageError(QStringLiteral("--relay wants --relay-secret-file, the secret it shares with the relay"));
        if (!config.tls)
            return usageError(QStringLiteral("--relay wants TLS: only programs logged in with their key over TLS "
                                             "are told of the relay"));
    } else if (parser.isSet(relaySecret) || parser.isSet(relayTlsPort) || parser.isSet(relayLifetime)) {
        return usageError(QStringLiteral("--relay-secret-file, --relay-tls-port and --relay-lifetime go with --relay"));
    }
    config.relaySecretFile = parser.value(relaySecret);
    if (parser.value(relayTlsPort) == QLatin1String("0"))
        config.relayTlsPort = 0;
    else if (!readPort(parser.value(relayTlsPort), &config.relayTlsPort))
        return usageError(QStringLiteral("--relay-tls-port wants a port from 1 to 65535, or 0 for none"));
    if (!count(relayLifetime, 60, &config.relayLifetimeSeconds) || config.relayLifetimeSeconds > 30 * 86400)
        return usageError(QStringLiteral("--relay-lifetime wants seconds from 60 to 2592000"));
    if (parser.isSet(release))
        return releaseOwner(config, parser.value(release).trimmed().toLower());
    if (parser.isSet(stats))
        return printStats(config);

    // Every user holds up to two connections: the soft limit on open files (often 1024)
    // goes up to what the node needs, within what the system allows.
    rlimit files{};
    const rlim_t needed = rlim_t(2) * rlim_t(config.maxUsers) + DirectoryServer::SpareConnections
                          + DirectoryServer::ReservedFiles;
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < needed) {
        files.rlim_cur = files.rlim_max == RLIM_INFINITY ? needed : std::min(needed, files.rlim_max);
        setrlimit(RLIMIT_NOFILE, &files);
    }
    getrlimit(RLIMIT_NOFILE, &files);

    DirectoryServer directory(config);
    QObject::connect(&directory, &DirectoryServer::logLine, &printLine);
    QString error;
    if (!directory.start(&error)) {
        std::fprintf(stderr, "zelmo-directory: %s\n", qPrintable(error));
        return 1;
    }
    printLine(QStringLiteral("zelmo-directory %1 listening on %2 directory port %3, pal port %4")
                  .arg(QStringLiteral(ZELMO_VERSION),
                       config.listenAddress.isEmpty() ? QStringLiteral("all interfaces") : config.listenAddress)
                  .arg(directory.directoryPort())
                  .arg(directory.palPort()));
    const int capacity = directory.capacity();
    const qint64 wanted = 2 * qint64(config.maxUsers) + DirectoryServer::SpareConnections;
    printLine(QStringLiteral("holds %1 connections (open-file limit %2): %3 users with a directory and a pal "
                             "connection each%4")
                  .arg(capacity)
                  .arg(files.rlim_cur == RLIM_INFINITY ? QStringLiteral("unlimited")
                                                       : QString::number(qulonglong(files.rlim_cur)))
                  .arg(qMin<qint64>(config.maxUsers, (capacity - DirectoryServer::SpareConnections) / 2))
                  .arg(capacity < wanted ? QStringLiteral(", fewer than --max-users %1 asks for: raise the "
                                                          "hard limit (ulimit -Hn) to hold them all")
                                                .arg(config.maxUsers)
                                         : QString()));
    printLine(QStringLiteral("registry: ") + directory.registry().description());
    printLine(config.tls ? QStringLiteral("TLS on both ports, key fingerprint %1")
                               .arg(TlsSetup::fingerprintText(directory.keyFingerprint()))
                         : QStringLiteral("plain protocol only (--no-tls)"));
    if (config.relay)
        printLine(QStringLiteral("relay %1:%2%3 for programs logged in with their key, credentials good for %4 s")
                      .arg(config.relay->Host)
                      .arg(config.relay->Port)
                      .arg(config.relayTlsPort ? QStringLiteral(" (TLS port %1)").arg(config.relayTlsPort) : QString())
                      .arg(config.relayLifetimeSeconds));

    OperatorInput operatorInput(0);
    QObject::connect(&operatorInput, &OperatorInput::line, &directory, &DirectoryServer::broadcast);
    CrashReport::install();
    TerminationSignals terminations;
    QObject::connect(&terminations, &TerminationSignals::received, &app, [&](int signalNumber) {
        printLine(QStringLiteral("stopping on signal %1").arg(signalNumber));
        directory.stop();
        app.quit();
    });
    return app.exec();
}
