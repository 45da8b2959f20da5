#pragma once

#include "core/CallOwner.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTime>
#include <functional>

class AudioControl;
class IPDaemon;
class IPPort;
class MediaConnection;
class QTimer;
class SoundPlayer;
struct Settings;

// Call control on both sides of the control channel: placing a call and following it,
// answering or refusing one, the busy answer and do-not-disturb, and hanging up. It works
// on the program's control endpoints, keeps the call's status, and asks the windows,
// through its signals, to show what happens. It is the one writer of the call's status:
// the media channel reports its turns here (CallOwner).
class CallControl : public QObject, public CallOwner
{
    Q_OBJECT

public:
    struct Context
    {
        // The call of the moment, which the media and chat channels read.
        CallStatus &call;
        const Settings &settings;
        IPDaemon &ipdControl;
        IPDaemon &ipdMedia;
        IPPort &ippControl;
        IPPort &ippClient;
        MediaConnection &media;
        SoundPlayer &sounds;
        // The ring and the busy sound play only while the sound devices are idle.
        const AudioControl &audio;
        std::function<void(const QString &)> logLine;
    };
    struct DirectoryEntry
    {
        QString name;
        QString location;
    };
    // What may become of a call request that is not busy.
    enum class RequestVerdict {
        Offer,
        // Offered, but only the user may accept it, even with auto-accept on.
        OfferToUser,
        // Refused at once, as if the user had said no.
        Refuse,
    };

    // A control connection that has not asked for a call within this time is closed, so a
    // silent connection cannot hold connection number 1 and turn real callers away.
    static constexpr int SilentConnectionMs = 10000;
    // After a busy answer or a refusal the caller hangs up; one that vanishes instead is
    // closed after this time. An accepted call whose media never comes is closed too.
    static constexpr int LingerMs = 10000;
    static constexpr int MediaWaitMs = 30000;
    // More control connections than this at once are refused outright.
    static constexpr int MaxControlConnections = 8;
    // Control connections one source (an IPv4 address, an IPv6 /64) may hold at once.
    static constexpr int MaxControlPerSource = 4;
    // Connection number 1 that has not asked for a call this long after it came gives its
    // place to a caller from elsewhere: a real caller asks within a round trip.
    static constexpr int SilentGraceMs = 2000;

    explicit CallControl(Context context, QObject *parent = nullptr);

    const CallStatus &status() const override { return m_.call; }
    // Do not disturb: control connections are refused before they open.
    void setDoNotDisturb(bool on) { m_doNotDisturb = on; }
    bool doNotDisturb() const { return m_doNotDisturb; }
    // A start-up with an address to call answers the next incoming call at once; the
    // prompt that answers it uses the answer up.
    void setAnswerNextCall(bool on) { m_answerNextCall = on; }
    bool answersNextCall() const { return m_answerNextCall; }
    // The calling side's media connection is up: the progress window's step after the
    // control connection.
    bool mediaClientConnected() const;

    // Name and location of user number k of the directory (counted from 1).
    void setDirectoryLookup(std::function<DirectoryEntry(int)> lookup);
    // Sends an e-mail lookup to the directory server; false when it is not connected.
    void setEmailLookup(std::function<bool(const QString &)> lookup);
    // Tests fix the local time that goes into requests and acceptances, and shorten the
    // time limits of idle control connections.
    void setClock(std::function<QTime()> now);
    // Judges each request that is not busy before it is offered (by its control connection).
    void setRequestCheck(std::function<RequestVerdict(int connectionId)> check);
    void setDeadlines(int silentMs, int lingerMs, int mediaWaitMs);

    // The caller's side. `directoryName` is how the directory server knows the callee (an
    // e-mail or a user number), when it does: a path can then be looked for beside the
    // direct way.
    void placeCall(const QString &address, int port, int userIndex, const QString &directoryName = {});
    // Runs before a call to someone the directory server knows is placed, with that name and
    // the address and port called.
    void setPathPreparation(std::function<void(const QString &, const QString &, int)> prepare);
    // The directory's answer to the e-mail lookup: shows who it found and calls the
    // address, or reports that nobody has it. Ignored unless a lookup is under way.
    void emailLookupAnswered(const QString &name, const QString &location, const QString &address, int port);
    // No answer will come to the lookup under way (the directory went or never answered):
    // the attempt ends as not answered.
    void emailLookupFailed();
    void cancelAttempt();
    // The hang-up command of the menu, the lamp and the call button.
    void hangUp();
    void hangUpIncoming(int connectionId);
    void hangUpOutgoing();

    // The callee's answers to the offered call; they go to control connection 1.
    void acceptOffered();
    void declineOffered();
    void autoDeclineOffered(const QString &name, const QString &location);

    // The callee's acceptance went out to this address on control connection 1 and that
    // connection is still up: only then may the caller open the media and chat channels.
    // A caller that has already closed its control connection is not accepted, even when
    // its close has not been handed over yet: it may have closed it and opened the other
    // channels at once, and the close is then among the events still waiting.
    bool isAcceptedCaller(const QString &remoteAddress) const override;

    // The media channel's turns of the call.
    void mediaStateChanged(CallState state) override;
    void mediaConnectFailed() override;
    void mediaEnded() override;
    // The calling side keeps the last picture's length for the zoom menu's Small item.
    void videoReceived(int payloadBytes) override;

signals:
    // Load and show the progress window with who is being called.
    void progressWindowRequested(const QString &name, const QString &location);
    void informationRequested(const QString &text);
    void transcriptLine(const QString &line);
    // The offer path: show the prompt, already answered when autoAccepted.
    void callOffered(const QString &name, const QString &location, bool autoAccepted);
    void busyNotice(const QString &name, const QString &location);
    // The control connection of the call this side accepted has closed: whatever the
    // caller opened besides it belongs to no call unless the media call is up.
    void acceptedCallerLeft();

private:
    void onControlConnected(int statusCode);
    void onControlData(const QByteArray &text);
    void onControlDisconnected();
    void onIncomingRequest(const QString &remoteAddress, bool *accept);
    void onIncomingConnected(int connectionId, int statusCode);
    void onIncomingData(int connectionId, const QByteArray &text);
    void onIncomingDisconnected(int connectionId);
    bool sendOnConnectionOne(const QByteArray &text);
    void armDeadline(int connectionId, int ms);
    void disarmDeadline(int connectionId);
    QString transcript(const QString &name, const QString &location, const QString &time) const;

    Context m_;
    bool m_doNotDisturb = false;
    bool m_answerNextCall = false;
    std::function<DirectoryEntry(int)> m_directory;
    std::function<bool(const QString &)> m_emailLookup;
    std::function<void(const QString &, const QString &, int)> m_pathPreparation;
    // Something came from the callee on the control connection of the attempt under way.
    bool m_calleeSpoke = false;
    // The e-mail of the lookup under way.
    QString m_lookedUp;
    std::function<QTime()> m_now;
    std::function<RequestVerdict(int)> m_requestCheck;
    // Control connections with a time limit: silent ones, answered ones, accepted ones
    // still waiting for their media.
    QHash<int, QTimer *> m_deadlines;
    // When each connection that has not asked for a call yet came (m_clock's time).
    QHash<int, qint64> m_silentSince;
    QElapsedTimer m_clock;
    int m_silentMs = SilentConnectionMs;
    int m_lingerMs = LingerMs;
    int m_mediaWaitMs = MediaWaitMs;
    // The request on connection 1 still waits for its answer. Connection numbers are
    // reused, so a prompt left open must not answer whoever holds number 1 later.
    bool m_offerPending = false;
};
