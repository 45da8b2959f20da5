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

    // What the scenarios across machines put in a profile folder.
    struct Profile
    {
        QString name;
        QString email;
        QString directory; // the directory server's address
        QString location = QStringLiteral("Home");
        bool autoAccept = false;
        QString pal; // one pal's e-mail address, or none
        QString routerSettings; // router.ini, or none
    };
    // Makes the folder and writes the profile into it; returns the folder.
    static QString writeProfile(const QString &folder, const Profile &profile);
    // The last lines of the log in a profile folder (programs write it when they end).
    static QString logTail(const QString &folder, int lines);

    // Starts the command line (the program, then its arguments); its standard error goes
    // to errorFile.
    bool start(const QStringList &command, const QString &errorFile, QString *error);
    // Starts ZELMO from binDir on a profile folder with test devices and the hook, after
    // `prefix` (what runs it on another machine), with `more` arguments; its standard error
    // goes to the folder's stderr.log. Waits for the main window.
    bool startOn(const QStringList &prefix, const QString &binDir, const QString &folder, int timeoutMs,
                 QString *why = nullptr, const QStringList &more = QStringList());
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
    // gapMs spaces the questions.
    bool askUntil(const QString &command, const std::function<bool(const QString &)> &wanted, int timeoutMs,
                  QString *answer = nullptr, int gapMs = 200);
    // A counter from "counters" ("framesDrawn", "speakerBlocks"), -1 when not known.
    qint64 counter(const QString &name);
    // Asks for a counter until it reaches `atLeast` or the time is up; the last value read.
    qint64 counterUntil(const QString &name, qint64 atLeast, int timeoutMs);

    // The program's activity log as its log window shows it, with its open windows, the
    // progress window's line and its counters, for a failure's message.
    QString activity();

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
