#include "support/HomeRouter.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <sys/prctl.h>

namespace {

// The chains the router software adds its rules to, jumped to from the hooks, and the
// address translation of everything leaving by the outside link.
const QByteArray Ruleset = R"(table inet filter {
  chain miniupnpd { }
  chain prerouting_miniupnpd { }
  chain postrouting_miniupnpd { }
  chain forward { type filter hook forward priority 0; policy accept; jump miniupnpd; }
  chain prerouting { type nat hook prerouting priority -100; policy accept; jump prerouting_miniupnpd; }
  chain postrouting { type nat hook postrouting priority 100; policy accept; jump postrouting_miniupnpd; oifname "outside" masquerade; }
}
)";

} // namespace

HomeRouter::HomeRouter(const QString &tag)
    : m_lab(tag)
{
}

HomeRouter::~HomeRouter()
{
    stopRouter();
}

QString HomeRouter::key(Machine machine)
{
    static const char *const keys[] = {"home", "router", "net"};
    return QString::fromLatin1(keys[machine]);
}

bool HomeRouter::create(QString *why)
{
    for (const char *tool : {"nft", "miniupnpd"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")})
                .isEmpty()
            && QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            *why = QStringLiteral("%1 is not installed (scripts/deps.sh installs it)").arg(QString::fromLatin1(tool));
            return false;
        }
    }
    QString output;
    const bool made =
        m_lab.addMachine(key(Home), why) && m_lab.addMachine(key(Router), why) && m_lab.addMachine(key(Internet), why)
        && m_lab.link(key(Home), QStringLiteral("lan"),
                      {HomeAddress + QStringLiteral("/24"), OtherHomeAddress + QStringLiteral("/24")}, key(Router),
                      QStringLiteral("inside"), {InsideAddress + QStringLiteral("/24")}, why)
        && m_lab.link(key(Router), QStringLiteral("outside"), {OutsideAddress + QStringLiteral("/24")}, key(Internet),
                      QStringLiteral("wan"), {InternetAddress + QStringLiteral("/24")}, why);
    if (!made)
        return false;
    const QList<std::pair<Machine, QStringList>> steps{
        {Home, {QStringLiteral("ip"), QStringLiteral("route"), QStringLiteral("add"), QStringLiteral("default"),
                QStringLiteral("via"), InsideAddress}},
        {Router, {QStringLiteral("sysctl"), QStringLiteral("-qw"), QStringLiteral("net.ipv4.ip_forward=1")}},
    };
    for (const auto &[machine, step] : steps) {
        if (!m_lab.run(key(machine), step, &output)) {
            *why = step.join(QLatin1Char(' ')) + QStringLiteral(": ") + output;
            return false;
        }
    }
    if (!m_lab.run(key(Router), {QStringLiteral("nft"), QStringLiteral("-f"), QStringLiteral("-")}, &output, Ruleset)) {
        *why = QStringLiteral("nft: ") + output;
        return false;
    }
    return true;
}

bool HomeRouter::startRouter(Protocols protocols, const QString &folder, QString *why)
{
    stopRouter();
    const QString config = QDir(folder).filePath(QStringLiteral("router.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *why = file.errorString();
        return false;
    }
    // Any home machine may forward to any home address, so that "another machine at home"
    // can hold a port.
    file.write(QStringLiteral("ext_ifname=outside\nlistening_ip=inside\nhttp_port=0\n"
                              "enable_upnp=%1\nenable_natpmp=%2\nsecure_mode=no\nsystem_uptime=yes\n"
                              "uuid=3d3cec3a-8cf0-11e0-98ee-001a6bd2d07b\n"
                              "allow 1024-65535 192.0.2.0/24 1024-65535\ndeny 0-65535 0.0.0.0/0 0-65535\n")
                   .arg(protocols.upnp ? QStringLiteral("yes") : QStringLiteral("no"),
                        protocols.natPmp ? QStringLiteral("yes") : QStringLiteral("no"))
                   .toLatin1());
    file.close();
    m_router.setProcessChannelMode(QProcess::MergedChannels);
    m_router.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_router.start(QStringLiteral("ip"),
                   {QStringLiteral("netns"), QStringLiteral("exec"), name(Router), QStringLiteral("miniupnpd"),
                    QStringLiteral("-f"), config, QStringLiteral("-d"), QStringLiteral("-P"),
                    QDir(folder).filePath(QStringLiteral("router.pid"))});
    if (!m_router.waitForStarted(5000)) {
        *why = m_router.errorString();
        return false;
    }
    // It says so once it listens for requests.
    QByteArray said;
    const bool ready = QTest::qWaitFor(
        [&] {
            said += m_router.readAll();
            return ((!protocols.natPmp || said.contains("Listening for NAT-PMP"))
                    && (!protocols.upnp || said.contains("HTTP listening")))
                   || m_router.state() == QProcess::NotRunning;
        },
        5000);
    if (!ready || m_router.state() == QProcess::NotRunning) {
        *why = QStringLiteral("the router software did not start: ") + QString::fromLocal8Bit(said.right(2000));
        return false;
    }
    return true;
}

void HomeRouter::stopRouter()
{
    if (m_router.state() == QProcess::NotRunning)
        return;
    m_router.terminate();
    if (!m_router.waitForFinished(3000)) {
        m_router.kill();
        m_router.waitForFinished(3000);
    }
    // The router software leaves the forwarding it was asked for; the next router starts clean.
    for (const char *chain : {"miniupnpd", "prerouting_miniupnpd", "postrouting_miniupnpd"})
        m_lab.run(key(Router), {QStringLiteral("nft"), QStringLiteral("flush"), QStringLiteral("chain"),
                                QStringLiteral("inet"), QStringLiteral("filter"), QString::fromLatin1(chain)});
}

QString HomeRouter::forwardingRules() const
{
    QString output;
    m_lab.run(key(Router),
              {QStringLiteral("nft"), QStringLiteral("list"), QStringLiteral("chain"), QStringLiteral("inet"),
               QStringLiteral("filter"), QStringLiteral("prerouting_miniupnpd")},
              &output);
    return output;
}
