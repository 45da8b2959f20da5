#include "support/DirectoryProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <sys/prctl.h>

DirectoryProcess::~DirectoryProcess()
{
    if (isRunning()) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool DirectoryProcess::start(const QStringList &command, const QString &logFile, int timeoutMs, QString *why,
                             const QString &ready)
{
    m_logFile = logFile;
    m_process.setStandardOutputFile(logFile);
    m_process.setStandardErrorFile(logFile, QIODevice::Append);
    m_process.setStandardInputFile(QProcess::nullDevice());
    // A runner killed by its time-out takes the server with it.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_process.start(command.value(0), command.mid(1));
    if (!m_process.waitForStarted(10000)) {
        *why = QStringLiteral("%1 did not start: %2").arg(command.value(0), m_process.errorString());
        return false;
    }
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        // What it found wrong with its data folder comes first.
        if (!log().filter(ready).isEmpty())
            return true;
        // Also notices that it ended.
        if (m_process.waitForFinished(50))
            break;
    }
    *why = QStringLiteral("%1 did not start: %2").arg(QFileInfo(command.value(0)).fileName(), log().join(QLatin1Char(' ')));
    return false;
}

QStringList DirectoryProcess::log() const
{
    return fileLines(m_logFile);
}

QStringList DirectoryProcess::fileLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QString text = QString::fromUtf8(line).trimmed();
        if (!text.isEmpty())
            lines << text;
    }
    return lines;
}

int DirectoryProcess::logged(const QString &part) const
{
    return int(log().filter(part).size());
}

bool DirectoryProcess::stop(int timeoutMs)
{
    if (!isRunning())
        return false;
    m_process.terminate();
    if (!m_process.waitForFinished(timeoutMs)) {
        m_process.kill();
        m_process.waitForFinished(5000);
        return false;
    }
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}
