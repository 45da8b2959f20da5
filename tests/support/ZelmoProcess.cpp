#include "support/ZelmoProcess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>

namespace {

QString unescaped(const QString &text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        QChar c = text.at(i);
        if (c == QLatin1Char('\\') && i + 1 < text.size()) {
            c = text.at(++i);
            if (c == QLatin1Char('n'))
                c = QLatin1Char('\n');
            else if (c == QLatin1Char('r'))
                c = QLatin1Char('\r');
        }
        out += c;
    }
    return out;
}

constexpr int PollMs = 200;

// The end of what a program wrote to its standard error: a sanitizer's report, say, which
// would otherwise go with the scenario's temporary folder.
QString errorTail(const QString &path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    // A crash's or a sanitizer's report is shown from its start, whatever came after it;
    // otherwise the end of what was written.
    constexpr qint64 TailBytes = 6000;
    constexpr qint64 ReportBytes = 16000;
    const QByteArray all = file.readAll();
    qsizetype from = -1;
    for (const char *marker : {"\nCrashed: ", "ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"}) {
        const qsizetype at = all.indexOf(marker);
        if (at >= 0 && (from < 0 || at < from))
            from = all.lastIndexOf('\n', at) + 1;
    }
    const QByteArray shown = (from >= 0 ? all.mid(from, ReportBytes) : all.right(TailBytes)).trimmed();
    return shown.isEmpty() ? QString() : QStringLiteral("; its standard error ends:\n") + QString::fromUtf8(shown);
}

} // namespace

ZelmoProcess::ZelmoProcess(QString name)
    : m_name(std::move(name))
{
}

ZelmoProcess::~ZelmoProcess()
{
    if (isRunning()) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool ZelmoProcess::start(const QStringList &command, const QString &errorFile, QString *error)
{
    m_errorFile = errorFile;
    m_process.setStandardErrorFile(errorFile);
    // A runner killed by its time-out takes the program with it.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_process.start(command.value(0), command.mid(1));
    if (!m_process.waitForStarted(10000)) {
        *error = QStringLiteral("%1 did not start: %2").arg(command.value(0), m_process.errorString());
        return false;
    }
    m_started = true;
    return true;
}

QString ZelmoProcess::writeProfile(const QString &folder, const Profile &p)
{
    QDir().mkpath(folder);
    const auto write = [&folder](const QString &file, const QString &text) {
        QFile f(QDir(folder).filePath(file));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text.toUtf8()) < 0)
            qFatal("cannot write %s", qPrintable(f.fileName()));
    };
    write(QStringLiteral("zelmo.ini"), QStringLiteral("[Personal]\r\nName=%1\r\nEMail=%2\r\nLocation=%3\r\nDirAddress=%4\r\n"
                                                      "[Calling]\r\nAutoAccept=%5\r\n")
                                           .arg(p.name, p.email, p.location, p.directory,
                                                p.autoAccept ? QStringLiteral("True") : QStringLiteral("False")));
    if (!p.pal.isEmpty())
        write(QStringLiteral("zelmo.pal"), (p.pal + QStringLiteral("\r\n")).repeated(2));
    if (!p.routerSettings.isEmpty())
        write(QStringLiteral("router.ini"), p.routerSettings);
    return folder;
}

QString ZelmoProcess::logTail(const QString &folder, int lines)
{
    QFile file(QDir(folder).filePath(QStringLiteral("zelmo.log")));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("(no log)");
    const QStringList all = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return all.mid(qMax(0, int(all.size()) - lines)).join(QStringLiteral("\n  "));
}

bool ZelmoProcess::startOn(const QStringList &prefix, const QString &binDir, const QString &folder, int timeoutMs,
                           QString *why, const QStringList &more)
{
    QString ignored;
    QString &error = why ? *why : ignored;
    const QStringList command = prefix
                                + QStringList{binDir + QStringLiteral("/zelmo"), QStringLiteral("--profile"), folder,
                                              QStringLiteral("--test-devices"), QStringLiteral("--test-hook")}
                                + more;
    if (!start(command, QDir(folder).filePath(QStringLiteral("stderr.log")), &error))
        return false;
    if (!waitForMainWindow(timeoutMs)) {
        error = QStringLiteral("%1's program showed no main window").arg(m_name) + errorTail(m_errorFile);
        return false;
    }
    return true;
}

bool ZelmoProcess::waitForMainWindow(int timeoutMs, QString *windows)
{
    return askUntil(
        QStringLiteral("windows"),
        [](const QString &w) { return w.split(QLatin1Char(' ')).contains(QLatin1String("frmMain")); }, timeoutMs,
        windows);
}

bool ZelmoProcess::ask(const QString &command, QString *answer, int timeoutMs)
{
    QString ignored;
    QString &out = answer ? *answer : ignored;
    if (!isRunning()) {
        out = QStringLiteral("%1's ZELMO is not running").arg(m_name);
        return false;
    }
    m_process.write(command.toUtf8() + '\n');
    m_process.waitForBytesWritten(timeoutMs);
    const QDeadlineTimer deadline(timeoutMs);
    qsizetype end;
    while ((end = m_output.indexOf('\n')) < 0) {
        if (deadline.hasExpired() || !isRunning()) {
            out = isRunning() ? QStringLiteral("no answer to \"%1\"").arg(command)
                              : QStringLiteral("%1's ZELMO ended").arg(m_name);
            return false;
        }
        if (m_process.waitForReadyRead(int(qMin<qint64>(deadline.remainingTime(), 1000))))
            m_output += m_process.readAllStandardOutput();
    }
    const QString line = QString::fromUtf8(m_output.left(end));
    m_output.remove(0, end + 1);
    if (line == QLatin1String("ok") || line.startsWith(QLatin1String("ok "))) {
        out = unescaped(line.mid(3));
        return true;
    }
    out = line.startsWith(QLatin1String("error ")) ? line.mid(6) : line;
    return false;
}

bool ZelmoProcess::askUntil(const QString &command, const std::function<bool(const QString &)> &wanted, int timeoutMs,
                        QString *answer, int gapMs)
{
    QString ignored;
    QString &out = answer ? *answer : ignored;
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (ask(command, &out) && wanted(out))
            return true;
        if (deadline.hasExpired() || !isRunning())
            return false;
        // The program works on in its own process; this only spaces the questions.
        QThread::msleep(gapMs);
    }
}

QString ZelmoProcess::activity()
{
    QString rows;
    if (!ask(QStringLiteral("trigger Menu_ViewLog"), &rows) || !ask(QStringLiteral("text frmLog lstActivity"), &rows))
        return QStringLiteral("(no log: %1)").arg(rows);
    // What the log does not say: a call under way shows in the open windows, the progress
    // window's lines and the counters.
    QString windows;
    QString progress;
    QString counters;
    ask(QStringLiteral("windows"), &windows);
    ask(QStringLiteral("text frmConStatus pnlConStatus"), &progress);
    ask(QStringLiteral("counters"), &counters);
    return QStringLiteral("\n%1's log:\n%2\n%1's windows: %3\nprogress: %4\ncounters: %5")
        .arg(m_name, rows, windows, progress, counters);
}

qint64 ZelmoProcess::counter(const QString &name)
{
    QString answer;
    if (!ask(QStringLiteral("counters"), &answer))
        return -1;
    const QRegularExpression pattern(QStringLiteral("(?:^| )%1=(\\d+)").arg(QRegularExpression::escape(name)));
    const QRegularExpressionMatch match = pattern.match(answer);
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

qint64 ZelmoProcess::counterUntil(const QString &name, qint64 atLeast, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    qint64 value = counter(name);
    while (value < atLeast && !deadline.hasExpired() && isRunning()) {
        QThread::msleep(PollMs);
        value = counter(name);
    }
    return value;
}

bool ZelmoProcess::quit(int timeoutMs, QString *why)
{
    if (!isRunning()) {
        *why = QStringLiteral("%1's ZELMO had already ended (exit code %2)").arg(m_name).arg(exitCode()) + errorTail(m_errorFile);
        return false;
    }
    QString answer;
    if (!ask(QStringLiteral("trigger Menu_Quit"), &answer)) {
        *why = QStringLiteral("%1 cannot choose File, Quit: %2").arg(m_name, answer);
        return false;
    }
    if (!waitForExit(timeoutMs)) {
        *why = QStringLiteral("%1's ZELMO did not end after File, Quit").arg(m_name);
        return false;
    }
    if (!exitedNormally() || exitCode() != 0) {
        *why = QStringLiteral("%1's ZELMO ended with exit code %2").arg(m_name).arg(exitCode()) + errorTail(m_errorFile);
        return false;
    }
    return true;
}

bool ZelmoProcess::terminate(int timeoutMs)
{
    m_process.terminate();
    return waitForExit(timeoutMs) && exitedNormally() && exitCode() == 0;
}

bool ZelmoProcess::waitForExit(int timeoutMs)
{
    if (m_process.waitForFinished(timeoutMs) || !isRunning())
        return true;
    m_process.kill();
    m_process.waitForFinished(5000);
    return false;
}
