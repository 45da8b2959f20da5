#include "support/TurnRelay.h"

#include "support/DirectoryProcess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>

#include <csignal>
#include <sys/prctl.h>

namespace {

bool writeOwnerOnly(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return file.write(bytes) == bytes.size();
}

} // namespace

TurnRelay::~TurnRelay()
{
    stop();
}

QString TurnRelay::program()
{
    const QString found = QStandardPaths::findExecutable(QStringLiteral("turnserver"));
    return found.isEmpty()
               ? QStandardPaths::findExecutable(QStringLiteral("turnserver"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")})
               : found;
}

bool TurnRelay::start(const QStringList &where, const QString &address, const QString &folder, QString *why)
{
    const QString turnserver = program();
    if (turnserver.isEmpty()) {
        *why = QStringLiteral("turnserver (package coturn) is not installed (scripts/deps.sh installs it)");
        return false;
    }
    const QDir dir(folder);
    m_secret = QString::number(QRandomGenerator::system()->generate64(), 36)
               + QString::number(QRandomGenerator::system()->generate64(), 36);
    m_secretFile = dir.filePath(QStringLiteral("relay-secret"));
    // The secret goes in a configuration file rather than on the command line, where any
    // user's process list would show it.
    const QString config = dir.filePath(QStringLiteral("relay.conf"));
    if (!writeOwnerOnly(m_secretFile, m_secret.toLatin1() + '\n')
        || !writeOwnerOnly(config, "static-auth-secret=" + m_secret.toLatin1() + '\n')) {
        *why = QStringLiteral("cannot write the relay's secret in ") + folder;
        return false;
    }
    m_logFile = dir.filePath(QStringLiteral("relay.log"));
    QFile::remove(m_logFile);
    const QStringList arguments{
        QStringLiteral("-c"), config, QStringLiteral("--use-auth-secret"), QStringLiteral("--realm"), realm(),
        QStringLiteral("--no-cli"), QStringLiteral("--no-tls"), QStringLiteral("--no-dtls"),
        QStringLiteral("--listening-ip"), address, QStringLiteral("--relay-ip"), address,
        QStringLiteral("--listening-port"), QString::number(m_port),
        QStringLiteral("--min-port"), QString::number(m_firstRelayPort), QStringLiteral("--max-port"),
        QString::number(m_lastRelayPort),
        // A relay on the internet refuses to send into private networks, as a public one
        // should: an offer's home addresses (192.168.1.10 at both homes) are no peers.
        // The TEST-NET-3 addresses of this internet are allowed, coturn's own relay
        // addresses too (two relayed programs meet relay to relay), loopback is not.
        QStringLiteral("--denied-peer-ip=10.0.0.0-10.255.255.255"),
        QStringLiteral("--denied-peer-ip=172.16.0.0-172.31.255.255"),
        QStringLiteral("--denied-peer-ip=192.168.0.0-192.168.255.255"),
        QStringLiteral("--no-multicast-peers"),
        // Its files stay in the folder, away from the system's database and pid file;
        // "verbose" makes it log every allocation and its relayed bytes.
        QStringLiteral("--log-file"), m_logFile, QStringLiteral("--simple-log"), QStringLiteral("--no-stdout-log"),
        QStringLiteral("--pidfile"), dir.filePath(QStringLiteral("relay.pid")), QStringLiteral("--userdb"),
        dir.filePath(QStringLiteral("relay.sqlite")), QStringLiteral("--verbose")};
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(dir.filePath(QStringLiteral("relay.out")));
    m_process.setStandardInputFile(QProcess::nullDevice());
    // A runner killed by its time-out takes the relay with it.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    const QStringList command = where + QStringList{turnserver} + arguments;
    m_process.start(command.value(0), command.mid(1));
    if (!m_process.waitForStarted(10000)) {
        *why = QStringLiteral("turnserver did not start: ") + m_process.errorString();
        return false;
    }
    // It says so once it listens on both transports.
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        const QStringList lines = DirectoryProcess::fileLines(m_logFile);
        if (!lines.filter(QStringLiteral("UDP listener opened on")).isEmpty()
            && !lines.filter(QStringLiteral("TCP listener opened on")).isEmpty())
            return true;
        if (m_process.waitForFinished(50))
            break;
    }
    *why = QStringLiteral("turnserver did not start listening: ") + logTail();
    return false;
}

bool TurnRelay::startOn(const QString &address, int port, int relayPorts, const QString &folder, QString *why)
{
    m_port = port;
    m_firstRelayPort = port + 1;
    m_lastRelayPort = port + relayPorts;
    return start({}, address, folder, why);
}

void TurnRelay::kill()
{
    if (!isRunning())
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
}

void TurnRelay::stop()
{
    if (!isRunning())
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        kill();
}

TurnRelay::Usage TurnRelay::usage() const
{
    // session 000000000000000001: new, realm=<zelmo.test>, username=<1796823850:ann>, lifetime=777
    // session 000000000000000001: realm <zelmo.test> user <1796823850:ann>: incoming packet message processed, error 401: Unauthorized
    // session 000000000000000002: peer usage: realm=<zelmo.test>, username=<...>, rp=20, rb=10000, sp=20, sb=10000
    // session 000000000000000002: closed (2nd stage), user <...> realm <zelmo.test> ...
    static const QRegularExpression session(QStringLiteral("session (\\d+): (.*)$"));
    static const QRegularExpression peerUsage(QStringLiteral("^peer usage: .*\\brb=(\\d+), .*\\bsb=(\\d+)"));
    static const QRegularExpression refused(QStringLiteral("user <[^>]+>: .*error 401"));
    Usage usage;
    QSet<QString> made;
    QSet<QString> ended;
    QHash<QString, qint64> relayed;
    for (const QString &line : DirectoryProcess::fileLines(m_logFile)) {
        const QRegularExpressionMatch m = session.match(line);
        if (!m.hasMatch())
            continue;
        const QString id = m.captured(1);
        const QString what = m.captured(2);
        if (what.startsWith(QLatin1String("new,")))
            made.insert(id);
        else if (what.startsWith(QLatin1String("closed")))
            ended.insert(id);
        else if (const QRegularExpressionMatch u = peerUsage.match(what); u.hasMatch())
            relayed[id] = u.captured(1).toLongLong() + u.captured(2).toLongLong();
        else if (refused.match(what).hasMatch())
            ++usage.refusals;
    }
    usage.allocations = int(made.size());
    usage.closed = int(ended.size());
    for (const qint64 bytes : std::as_const(relayed))
        usage.relayedBytes += bytes;
    return usage;
}

QString TurnRelay::logTail(int lines) const
{
    const QStringList all = DirectoryProcess::fileLines(m_logFile);
    return all.mid(qMax(0, int(all.size()) - lines)).join(QLatin1Char('\n'));
}
