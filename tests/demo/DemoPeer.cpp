#include "DemoPeer.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QThread>

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

} // namespace

DemoPeer::DemoPeer(QString name)
    : m_name(std::move(name))
{
}

DemoPeer::~DemoPeer()
{
    if (isRunning()) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool DemoPeer::start(const QString &program, const QStringList &arguments, const QString &errorFile, QString *error)
{
    m_process.setStandardErrorFile(errorFile);
    m_process.start(program, arguments);
    if (!m_process.waitForStarted(10000)) {
        *error = QStringLiteral("%1 did not start: %2").arg(program, m_process.errorString());
        return false;
    }
    m_started = true;
    return true;
}

bool DemoPeer::ask(const QString &command, QString *answer, int timeoutMs)
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

bool DemoPeer::askUntil(const QString &command, const std::function<bool(const QString &)> &wanted, int timeoutMs,
                        QString *answer)
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
        QThread::msleep(PollMs);
    }
}

qint64 DemoPeer::counter(const QString &name)
{
    QString answer;
    if (!ask(QStringLiteral("counters"), &answer))
        return -1;
    const QRegularExpression pattern(QStringLiteral("(?:^| )%1=(\\d+)").arg(QRegularExpression::escape(name)));
    const QRegularExpressionMatch match = pattern.match(answer);
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

bool DemoPeer::waitForExit(int timeoutMs)
{
    if (m_process.waitForFinished(timeoutMs) || !isRunning())
        return true;
    m_process.kill();
    m_process.waitForFinished(5000);
    return false;
}
