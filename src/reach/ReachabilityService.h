#pragma once

#include "reach/ReachabilityCheck.h"
#include "reach/RouterMapping.h"
#include "reach/RouterSettings.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <utility>

class ChannelDialer;
class QThreadPool;
class QTimer;

// How others reach this program: asks the home router to forward the listeners' ports
// (on a worker thread, never blocking the window or a call), renews the forwarding before
// it lapses, gives it back at the end, and has the directory server check from outside.
// What it learns is one line for the windows.
class ReachabilityService : public QObject
{
    Q_OBJECT

public:
    struct Services
    {
        // Where the router settings are kept.
        QString settingsPath;
        // The directory server to check with (host, port); an empty host skips the check.
        std::function<std::pair<QString, int>()> directoryServer;
        std::function<void(const QString &)> logLine;
        // The encrypted connection to the directory server the check is asked over.
        ChannelDialer *directoryDialer = nullptr;
    };

    enum class State { Idle, Asking, Mapped, NotMapped, Off };

    explicit ReachabilityService(Services services, QObject *parent = nullptr);
    ~ReachabilityService() override;

    // Starts with the listeners' first port: asks the router (unless that is switched
    // off), then checks.
    void start(int insideBase);
    // Gives the ports back to the router, waiting a bounded time for it.
    void shutdown();
    // Quitting waits no longer than this for a request under way.
    static constexpr int QuitWaitMs = 250;

    bool askRouter() const { return m_settings.AskRouter; }
    // Switches the router requests on or off at once, and keeps the choice.
    void setAskRouter(bool on);
    // Checks again with the directory server (after its address changed, say).
    void checkAgain();

    State state() const { return m_state; }
    // The port others call: the outside one the router gave, else the listeners' own.
    int outsideBase() const;
    // "Others can call you at 203.0.113.7:2000", or why not.
    QString line() const { return m_line; }

    // The listeners' ports, as offsets from the first: control, media, messages, chat, and
    // the encrypted port that carries all four.
    static const QList<int> &portOffsets();
    // Renewed when this much of the lease is left, at the latest.
    static constexpr int LeaseSeconds = 3600;

signals:
    void lineChanged(const QString &line);
    // The outside port changed: the directory logins must carry the new one.
    void outsideBaseChanged(int base);

private:
    RouterMapping::Request request() const;
    void askTheRouter();
    void giveBack(bool wait);
    void onMapped(int generation, const RouterMapping::Outcome &outcome);
    void onChecked(ReachabilityCheck::Verdict verdict, const QString &address, int port, const QString &reason);
    void startCheck();
    void updateLine();
    QString forwardAdvice() const;
    void log(const QString &text) const;

    // Where the worker's answers go: this object while it lives, nowhere after.
    struct Inbox;

    Services m_;
    RouterSettings m_settings;
    std::shared_ptr<Inbox> m_inbox;
    QThreadPool *m_worker;
    QTimer *m_renewal;
    ReachabilityCheck *m_check;
    State m_state = State::Idle;
    int m_insideBase = 0;
    int m_generation = 0;
    RouterMapping::Outcome m_outcome;
    ReachabilityCheck::Verdict m_verdict = ReachabilityCheck::Verdict::Unknown;
    bool m_checked = false;
    QString m_checkAddress;
    QString m_checkReason;
    QString m_line;
};
