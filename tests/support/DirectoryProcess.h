#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// zelmo-directory run as a program of its own, as the demo and the scenarios across
// machines run it: its log goes to a file, which can be read as it grows; SIGTERM stops it.
// It does not outlive its runner.
class DirectoryProcess
{
public:
    DirectoryProcess() = default;
    ~DirectoryProcess();
    DirectoryProcess(const DirectoryProcess &) = delete;
    DirectoryProcess &operator=(const DirectoryProcess &) = delete;

    // Starts the command line (the program, then its arguments), logging to logFile, and
    // waits until it listens (its log says `ready`; the relay beside it is run so too);
    // false with the reason.
    bool start(const QStringList &command, const QString &logFile, int timeoutMs, QString *why,
               const QString &ready = QStringLiteral("listening on"));
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    qint64 processId() const { return m_process.processId(); }
    // The log's lines so far, and how many of them contain `part`.
    QStringList log() const;
    int logged(const QString &part) const;
    // SIGTERM; true when it ended by itself with exit code 0.
    bool stop(int timeoutMs);

    // The lines of a log (or any text file) that hold something, trimmed.
    static QStringList fileLines(const QString &path);

private:
    QProcess m_process;
    QString m_logFile;
};
