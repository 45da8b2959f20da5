#include "support/TwoMachines.h"

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

// Runs `ip` with the arguments; its complaint, if any, in *output.
bool ip(const QStringList &arguments, QString *output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("ip"), arguments);
    const bool ok = process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit
                    && process.exitCode() == 0;
    if (output)
        *output = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (!ok && output && output->isEmpty())
        *output = process.errorString();
    return ok;
}

} // namespace

TwoMachines::TwoMachines(const QString &tag)
    : m_prefix(QStringLiteral("zelmo-%1-%2-").arg(tag).arg(QCoreApplication::applicationPid()))
{
}

TwoMachines::~TwoMachines()
{
    remove();
}

QString TwoMachines::address(Machine machine)
{
    return machine == A ? QStringLiteral("192.0.2.10") : QStringLiteral("192.0.2.20");
}

QString TwoMachines::name(Machine machine) const
{
    return m_prefix + (machine == A ? QLatin1Char('a') : QLatin1Char('b'));
}

QStringList TwoMachines::command(Machine machine, const QString &program, const QStringList &arguments) const
{
    return QStringList{QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"), name(machine), program}
           + arguments;
}

void TwoMachines::sweepLeftovers() const
{
    // A run killed by its time-out could not remove its pair; its process is gone.
    QString listing;
    if (!ip({QStringLiteral("netns"), QStringLiteral("list")}, &listing))
        return;
    const QString tag = m_prefix.section(QLatin1Char('-'), 1, 1);
    const QRegularExpression ours(QStringLiteral("^zelmo-%1-(\\d+)-[ab]\\b").arg(QRegularExpression::escape(tag)));
    for (const QString &line : listing.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch m = ours.match(line.trimmed());
        if (m.hasMatch() && !QFileInfo::exists(QStringLiteral("/proc/") + m.captured(1)))
            ip({QStringLiteral("netns"), QStringLiteral("del"), line.trimmed().section(QLatin1Char(' '), 0, 0)});
    }
}

bool TwoMachines::create(QString *why)
{
    const auto fail = [&](const QString &reason) {
        if (why)
            *why = reason;
        remove();
        return false;
    };
    if (::geteuid() != 0)
        return fail(QStringLiteral("making network namespaces needs root (CI runs as root)"));
    if (QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty())
        return fail(QStringLiteral("the ip command (package iproute2) is not installed"));
    sweepLeftovers();
    const QString a = name(A);
    const QString b = name(B);
    m_up = true;
    const QList<QStringList> steps{
        {QStringLiteral("netns"), QStringLiteral("add"), a},
        {QStringLiteral("netns"), QStringLiteral("add"), b},
        {QStringLiteral("-n"), a, QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")},
        {QStringLiteral("-n"), b, QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")},
        {QStringLiteral("link"), QStringLiteral("add"), QStringLiteral("va"), QStringLiteral("netns"), a,
         QStringLiteral("type"), QStringLiteral("veth"), QStringLiteral("peer"), QStringLiteral("name"),
         QStringLiteral("vb"), QStringLiteral("netns"), b},
        {QStringLiteral("-n"), a, QStringLiteral("addr"), QStringLiteral("add"), address(A) + QStringLiteral("/24"),
         QStringLiteral("dev"), QStringLiteral("va")},
        {QStringLiteral("-n"), b, QStringLiteral("addr"), QStringLiteral("add"), address(B) + QStringLiteral("/24"),
         QStringLiteral("dev"), QStringLiteral("vb")},
        {QStringLiteral("-n"), a, QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("va"), QStringLiteral("up")},
        {QStringLiteral("-n"), b, QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("vb"), QStringLiteral("up")},
    };
    for (const QStringList &step : steps) {
        QString output;
        if (!ip(step, &output))
            return fail(QStringLiteral("ip %1: %2").arg(step.join(QLatin1Char(' ')), output));
    }
    // The link carries traffic once both ends see each other.
    const QDeadlineTimer deadline(5000);
    for (;;) {
        QString linkA;
        QString linkB;
        ip({QStringLiteral("-n"), a, QStringLiteral("link"), QStringLiteral("show"), QStringLiteral("va")}, &linkA);
        ip({QStringLiteral("-n"), b, QStringLiteral("link"), QStringLiteral("show"), QStringLiteral("vb")}, &linkB);
        if (linkA.contains(QLatin1String("LOWER_UP")) && linkB.contains(QLatin1String("LOWER_UP")))
            return true;
        if (deadline.hasExpired())
            return fail(QStringLiteral("the link between the two machines did not come up"));
        QThread::msleep(20);
    }
}

void TwoMachines::remove()
{
    if (!m_up)
        return;
    m_up = false;
    for (Machine machine : {A, B})
        ip({QStringLiteral("netns"), QStringLiteral("del"), name(machine)});
}

bool TwoMachines::onMachine(Machine machine, const std::function<void()> &work) const
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
