#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

// One ZELMO run as a program of its own with --test-hook, as the demo and the scenarios
// across machines run it: its window commands go to the program's standard input and each
// answer comes back as one line on its standard output. It does not outlive its runner.
class ZelmoProcess
{
public:
    explicit ZelmoProcess(QString name);
    ~ZelmoProcess();
    ZelmoProcess(const ZelmoProcess &) = delete;
    ZelmoProcess &operator=(const ZelmoProcess &) = delete;

    const QString &name() const { return m_name; }

    // Starts the command line (the program, then its arguments); its standard error goes
    // to errorFile.
    bool start(const QStringList &command, const QString &errorFile, QString *error);
    // Waits until the main window shows, at the end of the start-up; the visible windows
    // in *windows.
    bool waitForMainWindow(int timeoutMs, QString *windows = nullptr);
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    bool wasStarted() const { return m_started; }

    // Sends a command and waits for its answer. True for "ok ..." with what follows "ok"
    // (unescaped) in *answer; false for "error ...", a dead program or no answer in time,
    // with the reason in *answer.
    bool ask(const QString &command, QString *answer = nullptr, int timeoutMs = 15000);
    // Asks until the answer satisfies `wanted` (the last answer stays in *answer).
    bool askUntil(const QString &command, const std::function<bool(const QString &)> &wanted, int timeoutMs,
                  QString *answer = nullptr);
    // A counter from "counters" ("framesDrawn", "speakerBlocks"), -1 when not known.
    qint64 counter(const QString &name);
    // Asks for a counter until it reaches `atLeast` or the time is up; the last value read.
    qint64 counterUntil(const QString &name, qint64 atLeast, int timeoutMs);

    // Chooses File, Quit and waits for a clean end; false with the reason.
    bool quit(int timeoutMs, QString *why);
    // Sends SIGTERM, as a session's end does, and waits for a clean end.
    bool terminate(int timeoutMs);
    // Waits for the program to end by itself; kills it when it does not.
    bool waitForExit(int timeoutMs);
    int exitCode() const { return m_process.exitCode(); }
    bool exitedNormally() const { return m_process.exitStatus() == QProcess::NormalExit; }

private:
    QString m_name;
    QProcess m_process;
    QByteArray m_output;
    QString m_errorFile;
    bool m_started = false;
};
