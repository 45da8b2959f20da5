#include "support/NetworkLab.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace {

bool runCommand(const QStringList &command, QString *output, const QByteArray &input = QByteArray())
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(command.value(0), command.mid(1));
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    const bool ok = process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit
                    && process.exitCode() == 0;
    if (output)
        *output = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (!ok && output && output->isEmpty())
        *output = process.errorString();
    return ok;
}

bool ip(const QStringList &arguments, QString *output = nullptr)
{
    return runCommand(QStringList{QStringLiteral("ip")} + arguments, output);
}

} // namespace

NetworkLab::NetworkLab(const QString &tag)
    : m_tag(tag)
    , m_prefix(QStringLiteral("zelmo-%1-%2-").arg(tag).arg(QCoreApplication::applicationPid()))
{
}

NetworkLab::~NetworkLab()
{
    for (const QString &machine : std::as_const(m_machines))
        ip({QStringLiteral("netns"), QStringLiteral("del"), name(machine)});
}

QString NetworkLab::obstacle()
{
    if (::geteuid() != 0)
        return QStringLiteral("making network namespaces needs root (CI runs as root)");
    if (QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty())
        return QStringLiteral("the ip command (package iproute2) is not installed");
    return QString();
}

void NetworkLab::sweepLeftovers() const
{
    // A run killed by its time-out could not remove its machines; its process is gone.
    QString listing;
    if (!ip({QStringLiteral("netns"), QStringLiteral("list")}, &listing))
        return;
    const QRegularExpression ours(QStringLiteral("^zelmo-%1-(\\d+)-\\w+\\b").arg(QRegularExpression::escape(m_tag)));
    for (const QString &line : listing.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch m = ours.match(line.trimmed());
        if (m.hasMatch() && !QFileInfo::exists(QStringLiteral("/proc/") + m.captured(1)))
            ip({QStringLiteral("netns"), QStringLiteral("del"), line.trimmed().section(QLatin1Char(' '), 0, 0)});
    }
}

bool NetworkLab::addMachine(const QString &machine, QString *why)
{
    if (const QString problem = obstacle(); !problem.isEmpty()) {
        *why = problem;
        return false;
    }
    if (m_machines.isEmpty())
        sweepLeftovers();
    QString output;
    if (!ip({QStringLiteral("netns"), QStringLiteral("add"), name(machine)}, &output)) {
        *why = QStringLiteral("ip netns add %1: %2").arg(name(machine), output);
        return false;
    }
    m_machines << machine;
    if (!ip({QStringLiteral("-n"), name(machine), QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"),
             QStringLiteral("up")},
            &output)) {
        *why = output;
        return false;
    }
    return true;
}

bool NetworkLab::link(const QString &a, const QString &endA, const QStringList &addressesA, const QString &b,
                      const QString &endB, const QStringList &addressesB, QString *why)
{
    QList<QStringList> steps{{QStringLiteral("link"), QStringLiteral("add"), endA, QStringLiteral("netns"), name(a),
                              QStringLiteral("type"), QStringLiteral("veth"), QStringLiteral("peer"),
                              QStringLiteral("name"), endB, QStringLiteral("netns"), name(b)}};
    for (const auto &[machine, end, addresses] :
         {std::tuple{a, endA, addressesA}, std::tuple{b, endB, addressesB}}) {
        for (const QString &address : addresses) {
            // IPv6 addresses serve at once rather than after duplicate detection.
            QStringList step{QStringLiteral("-n"), name(machine), QStringLiteral("addr"), QStringLiteral("add"), address,
                             QStringLiteral("dev"), end};
            if (address.contains(QLatin1Char(':')))
                step << QStringLiteral("nodad");
            steps << step;
        }
        steps << QStringList{QStringLiteral("-n"), name(machine), QStringLiteral("link"), QStringLiteral("set"), end,
                             QStringLiteral("up")};
    }
    for (const QStringList &step : std::as_const(steps)) {
        QString output;
        if (!ip(step, &output)) {
            *why = QStringLiteral("ip %1: %2").arg(step.join(QLatin1Char(' ')), output);
            return false;
        }
    }
    // The link carries traffic once both ends see each other.
    const QDeadlineTimer deadline(5000);
    for (;;) {
        QString linkA;
        QString linkB;
        ip({QStringLiteral("-n"), name(a), QStringLiteral("link"), QStringLiteral("show"), endA}, &linkA);
        ip({QStringLiteral("-n"), name(b), QStringLiteral("link"), QStringLiteral("show"), endB}, &linkB);
        if (linkA.contains(QLatin1String("LOWER_UP")) && linkB.contains(QLatin1String("LOWER_UP")))
            return true;
        if (deadline.hasExpired()) {
            *why = QStringLiteral("the link between %1 and %2 did not come up").arg(a, b);
            return false;
        }
        QThread::msleep(20);
    }
}

bool NetworkLab::run(const QString &machine, const QStringList &command, QString *output, const QByteArray &input) const
{
    return runCommand(this->command(machine, command.value(0), command.mid(1)), output, input);
}

QString NetworkLab::name(const QString &machine) const
{
    return m_prefix + machine;
}

QStringList NetworkLab::on(const QString &machine) const
{
    return {QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"), name(machine)};
}

QStringList NetworkLab::command(const QString &machine, const QString &program, const QStringList &arguments) const
{
    return on(machine) + QStringList{program} + arguments;
}

bool NetworkLab::onMachine(const QString &machine, const std::function<void()> &work) const
{
    const int target = ::open(qPrintable(QStringLiteral("/run/netns/") + name(machine)), O_RDONLY | O_CLOEXEC);
    const int home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const bool entered = target >= 0 && home >= 0 && ::setns(target, CLONE_NEWNET) == 0;
    if (entered) {
        work();
        if (::setns(home, CLONE_NEWNET) != 0)
            qFatal("could not come back from the machine's network");
    }
    if (target >= 0)
        ::close(target);
    if (home >= 0)
        ::close(home);
    return entered;
}
