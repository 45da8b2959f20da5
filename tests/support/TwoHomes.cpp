#include "support/TwoHomes.h"

#include <QStandardPaths>

namespace {

// Forwarding allows what leaves the home and the answers to it; everything leaving by the
// outside link takes the router's address. The router itself answers nothing from outside,
// as home routers do: a packet it took for itself and refused would leave a translation
// behind whose addresses masquerade then avoids, so the home's own packets to that sender
// would leave from another port and punching through would fail for no router's reason.
QByteArray ruleset(TwoHomes::Kind kind)
{
    const QByteArray dropUdp =
        kind == TwoHomes::Kind::UdpBlocked ? "    iifname \"inside\" meta l4proto udp counter drop\n" : "";
    const QByteArray masquerade = kind == TwoHomes::Kind::Symmetric ? "masquerade fully-random" : "masquerade";
    return "table ip home {\n"
           "  chain input { type filter hook input priority 0; policy drop;\n"
           "    ct state established,related accept\n"
           "    iifname != \"outside\" accept\n"
           "  }\n"
           "  chain forward { type filter hook forward priority 0; policy drop;\n"
           + dropUdp
           + "    ct state established,related accept\n"
             "    iifname \"inside\" oifname \"outside\" accept\n"
             "  }\n"
             "  chain postrouting { type nat hook postrouting priority 100; policy accept;\n"
             "    oifname \"outside\" "
           + masquerade
           + "\n"
             "  }\n"
             "}\n";
}

bool hasTool(const char *tool)
{
    const QString name = QString::fromLatin1(tool);
    return !QStandardPaths::findExecutable(name).isEmpty()
           || !QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")}).isEmpty();
}

} // namespace

TwoHomes::TwoHomes(const QString &tag)
    : m_lab(tag)
{
}

TwoHomes::~TwoHomes()
{
    // The relay's sockets go before its machine does.
    m_relay.stop();
}

QString TwoHomes::key(Machine machine)
{
    static const char *const keys[] = {"homeA", "routerA", "net", "routerB", "homeB"};
    return QString::fromLatin1(keys[machine]);
}

QString TwoHomes::kindName(Kind kind)
{
    switch (kind) {
    case Kind::Cone:
        return QStringLiteral("cone");
    case Kind::Symmetric:
        return QStringLiteral("symmetric");
    case Kind::UdpBlocked:
        return QStringLiteral("UDP blocked");
    }
    return {};
}

QString TwoHomes::outsideAddress(Machine machine)
{
    return machine == HomeA || machine == RouterA ? OutsideA : OutsideB;
}

QStringList TwoHomes::on(Machine machine) const
{
    return m_lab.on(key(machine));
}

bool TwoHomes::create(Kind a, Kind b, QString *why)
{
    if (!hasTool("nft")) {
        *why = QStringLiteral("nft is not installed (scripts/deps.sh installs it)");
        return false;
    }
    for (Machine machine : {HomeA, RouterA, Internet, RouterB, HomeB}) {
        if (!m_lab.addMachine(key(machine), why))
            return false;
    }
    // Each home's cable carries the same private network; the outside links get their
    // point-to-point addresses below.
    for (Machine home : {HomeA, HomeB}) {
        if (!m_lab.link(key(home), QStringLiteral("lan"), {HomeAddress + QStringLiteral("/24")}, key(routerOf(home)),
                        QStringLiteral("inside"), {InsideAddress + QStringLiteral("/24")}, why))
            return false;
    }
    const QList<std::pair<Machine, QString>> outside{{RouterA, QStringLiteral("toA")}, {RouterB, QStringLiteral("toB")}};
    for (const auto &[router, end] : outside) {
        if (!m_lab.link(key(router), QStringLiteral("outside"), {}, key(Internet), end, {}, why))
            return false;
    }
    QList<std::pair<Machine, QStringList>> steps;
    for (const auto &[router, end] : outside) {
        const QString address = outsideAddress(router);
        steps << std::pair{router, QStringList{QStringLiteral("ip"), QStringLiteral("addr"), QStringLiteral("add"), address,
                                               QStringLiteral("peer"), InternetAddress, QStringLiteral("dev"),
                                               QStringLiteral("outside")}}
              << std::pair{Internet, QStringList{QStringLiteral("ip"), QStringLiteral("addr"), QStringLiteral("add"),
                                                 InternetAddress, QStringLiteral("peer"), address, QStringLiteral("dev"), end}}
              << std::pair{router, QStringList{QStringLiteral("ip"), QStringLiteral("route"), QStringLiteral("add"),
                                               QStringLiteral("default"), QStringLiteral("via"), InternetAddress}}
              << std::pair{router, QStringList{QStringLiteral("sysctl"), QStringLiteral("-qw"),
                                               QStringLiteral("net.ipv4.ip_forward=1")}};
    }
    for (Machine home : {HomeA, HomeB})
        steps << std::pair{home, QStringList{QStringLiteral("ip"), QStringLiteral("route"), QStringLiteral("add"),
                                             QStringLiteral("default"), QStringLiteral("via"), InsideAddress}};
    steps << std::pair{Internet, QStringList{QStringLiteral("sysctl"), QStringLiteral("-qw"),
                                             QStringLiteral("net.ipv4.ip_forward=1")}};
    for (const auto &[machine, step] : std::as_const(steps)) {
        QString output;
        if (!m_lab.run(key(machine), step, &output)) {
            *why = QStringLiteral("%1 on %2: %3").arg(step.join(QLatin1Char(' ')), key(machine), output);
            return false;
        }
    }
    return makeRouter(RouterA, a, why) && makeRouter(RouterB, b, why);
}

bool TwoHomes::makeRouter(Machine router, Kind kind, QString *why)
{
    QString output;
    if (!m_lab.run(key(router), {QStringLiteral("nft"), QStringLiteral("-f"), QStringLiteral("-")}, &output, ruleset(kind))) {
        *why = QStringLiteral("nft on %1: %2").arg(key(router), output);
        return false;
    }
    return true;
}

QString TwoHomes::rules(Machine router) const
{
    QString output;
    m_lab.run(key(router), {QStringLiteral("nft"), QStringLiteral("list"), QStringLiteral("ruleset")}, &output);
    return output;
}

bool TwoHomes::startRelay(const QString &folder, QString *why)
{
    return m_relay.start(on(Internet), InternetAddress, folder, why);
}
