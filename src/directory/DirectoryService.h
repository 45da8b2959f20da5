#pragma once

#include "core/PeerChannel.h"
#include "directory/DirectoryProtocol.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVector>

class AudioControl;
class CaptureControl;
class IPPort;
class PalList;
class QTimer;
struct Settings;

// The directory and pal side of one program: the directory server client (login, user
// list, server list, notices, redirects, e-mail lookups for call control), the pal server
// client (user number, login, pal checks every 45 seconds), the pal list's changes and the
// directory window's actions. The window only shows what this says and forwards clicks.
class DirectoryService : public QObject
{
    Q_OBJECT

public:
    struct Context
    {
        Settings &settings;
        PalList &pals;
        // The login says whether this user has a camera and sound.
        const CaptureControl &capture;
        const AudioControl &audio;
        QString palFile;
        QString userNumberFile;
    };

    static constexpr int PalCheckMs = 45000;
    static constexpr int DefaultDirectoryPort = 2010;
    static constexpr int DefaultPalPort = 2015;
    // Room for a full list of 500 users with long fields; a longer message is cut there.
    static constexpr int DirectoryInputBytes = 512 * 1024;
    // Room for a path offer with its description; the published texts are far shorter.
    static constexpr int PalInputBytes = DirectoryProtocol::MaxPathDescription + 1024;
    // A directory server that has taken a request (notice, list, e-mail lookup) and sent
    // nothing at all for this long is given up: the connection closes, so the next window
    // activation or server choice connects again.
    static constexpr int AnswerWaitMs = 20000;

    explicit DirectoryService(Context context, QObject *parent = nullptr);

    IPPort &ippServer() { return *m_ippServer; }
    IPPort &ippServerPal() { return *m_ippServerPal; }
    QTimer *tmrCheckPal() const { return m_tmrCheckPal; }
    // Tests shorten the wait for the directory's answers.
    void setAnswerWait(int ms);
    // The port this program listens for calls on, as the logins tell it.
    void setListenPort(int port) { m_listenPort = port; }
    // This installation's identity at the servers; -1 until the pal server assigns one.
    qint32 userNumber() const { return m_userNumber; }

    // The directory entry table and the server list, numbered from 1 by their users.
    const QVector<DirectoryProtocol::UserEntry> &entries() const { return m_entries; }
    const DirectoryProtocol::UserEntry *entry(int k) const;
    const QVector<DirectoryProtocol::ServerEntry> &servers() const { return m_servers; }
    PalList &pals();
    // The status bar: the status text and the two counts.
    QString statusText() const { return m_status; }
    QString onlineText() const { return m_online; }
    QString listedText() const { return m_listed; }
    // Where the pal server is: on the directory server's host (the bundled server serves
    // both), port 2015, until a "BSY" moves it; a new directory server brings it along.
    QString palServerHost() const;
    int palServerPort() const { return m_palPort; }
    // As a "BSY" does: the pal server is elsewhere while the directory server stays.
    void setPalServer(const QString &host, int port);
    // The pal server's port on the directory server's host.
    void setPalPort(int port);
    // The number of the pal whose lookup is under way, 0 when no check is.
    int palCheckPosition() const;

    // The small picture of a listed user, 1 to 9.
    static int iconNumber(const DirectoryProtocol::UserEntry &entry);
    // The configured directory server as "host:port", and a server list item's text.
    QString directoryText() const;
    static QString serverItemText(const DirectoryProtocol::ServerEntry &server);
    // Where a listed user or pal is, as the address box takes it: "host:port".
    static QString addressText(const QString &host, int port);

    // Start-up: the stored user number, the pal lists, the pal check timer.
    void start();
    // Shutdown: both connections close, the timer stops.
    void shutdown();

    // ---- Directory ----
    void connectDirectory(const QString &host, int port);
    // Sends "GEM" when the directory is connected, else returns false; the answer comes as
    // emailAnswered, or lookupsLost when the connection closes first.
    bool lookupEmail(const QString &address);
    // The user picked or typed a directory server: "host:port..." or a bare host (port 2010).
    void chooseDirectory(const QString &text);
    // The toolbar opens the window: the next activation asks for the list in any case.
    void requestRefreshOnShow() { m_refreshOnShow = true; }
    // The window became active: at most once per load (or toolbar open), the list is asked
    // for (connecting first when needed) and the pals are checked.
    void windowActivated();
    void refresh();
    void setWindowVisible(bool visible) { m_windowVisible = visible; }
    // The redirect prompt's "Yes": its address text, "host:port".
    void acceptRedirect(const QString &address);

    // ---- Pals ----
    void connectPalServer();
    void startPalCheck();
    void palCheckTick();
    // The new-pal dialog: adds the pal and looks it up at once. False, with a message,
    // when the list is full.
    bool addPal(const QString &email);
    // From a received quick message: added, looked up at the next check.
    bool addPalFromMessage(const QString &email);
    void removePal(int number);

    // ---- Paths for calls ----
    // Sends a text of the path finding to the pal server: only over an encrypted pal
    // connection that is logged in (a server of the published protocol never sees one).
    bool sendPathText(const QByteArray &text);
    bool passesPathTexts() const;
    // Asks for fresh relay credentials: the pal login again, which the server answers
    // with them. False, and nothing sent, without such a connection.
    bool renewRelay();

    // ---- Calls and messages ----
    // cmdCall: the address box's text; when it still holds the address of the selected
    // user (entry) or pal, that one is called on its own port.
    void call(const QString &address, int entry, int pal);
    void callEntry(int k);
    void callPal(int k);
    // cmdSendMsg with the selected user (entry) or pal, 0 for none.
    void sendMessage(int entry, int pal);

public slots:
    // The user's personal data changed: log in again on the open directory connection
    // (connecting when it is closed), and on the pal connection when logged in there.
    void loginAgain();
    // The port others reach this program at changed: the open connections log in again.
    void refreshLogins();
    // The directory address changed: the connection to the old server closes; the login
    // that follows connects to the new one.
    void closeDirectory();
    // Closes the directory connection and connects to the configured server again.
    void reconnectDirectory();
    // The connection's security layer sent nothing to the server and says why; the status
    // says so until a connection succeeds.
    void connectionBlocked(const QString &text);
    // The server's new key was accepted: the connections are made again.
    void retryWithNewKey();
    // Whether the directory connection is encrypted.
    void setPrivate(bool encrypted);

signals:
    void statusChanged(const QString &text);
    void countsChanged(const QString &online, const QString &listed);
    void userListChanged();
    void serverListChanged();
    // The directory server box should read this ("host:port").
    void directoryTextChanged(const QString &text);
    // The pal lists are to be rebuilt from the pal list.
    void palsChanged();
    void informationRequested(const QString &text);
    void messageBoxRequested(const QString &title, const QString &text);
    void redirectOffered(const QString &host, int port, const QString &description);
    // Open a compose window for this recipient.
    void sendMessageRequested(const QString &name, const QString &location, const QString &address, int port,
                              qint32 userNumber);
    void userNumberChanged(qint32 number);
    void privacyChanged(bool encrypted);
    // What the pal server passed on for the path finding.
    void relayAccessChanged(const std::optional<DirectoryProtocol::RelayAccess> &relay);
    void callOfferArrived(const DirectoryProtocol::RelayedOffer &offer);
    void callAnswerArrived(const DirectoryProtocol::CallAnswer &answer);
    void callEndArrived(const DirectoryProtocol::CallEnd &end);
    // The pal connection closed: nothing more will be passed on over it.
    void pathServerLost();
    // An e-mail lookup's answer; no answer will come to one under way.
    void emailAnswered(const QString &name, const QString &location, const QString &address, int port);
    void lookupsLost();
    // Call this address and port; entry is the listed user's number (0 for none), name
    // what a path offer is addressed to (empty for none).
    void callRequested(const QString &address, int port, int entry, const QString &name);

private:
    void setStatus(const QString &text);
    void onDirectoryConnected(int statusCode);
    void onDirectoryData(const QByteArray &text, bool eol);
    void onDirectoryMessage(const QByteArray &message);
    void onDirectoryDisconnected();
    void onAnswerOverdue();
    // Sends a request the directory answers: "INT", "LS1" or "GEM".
    void sendDirectoryRequest(const QByteArray &message);
    void onPalConnected(int statusCode);
    void onPalData(const QByteArray &text, bool eol);
    void onPalMessage(const QByteArray &message);
    void onPalAnswer(const DirectoryProtocol::EmailAnswer &answer);
    void onPathMessage(const DirectoryProtocol::FromServer &message);
    // The user's own fields of both logins.
    DirectoryProtocol::Login ownLogin() const;
    void sendPalLogin();
    void sendDirectoryLogin();
    void lookUpPal(int k);
    int matchPal(const QString &email) const;
    bool addPalEntry(const QString &email);
    int dirPort() const;
    // The pal server goes with the directory server "host:port" unless it already does.
    void followDirectory(const QString &host, int port);

    Context m_;
    int m_listenPort = PortPlan::PublishedBase;
    qint32 m_userNumber = -1;
    IPPort *m_ippServer;
    IPPort *m_ippServerPal;
    QTimer *m_tmrCheckPal;
    // Runs while answers are awaited; any data from the server starts it again.
    QTimer *m_tmrAnswer;
    int m_awaitedAnswers = 0;

    QVector<DirectoryProtocol::UserEntry> m_entries;
    // The users the server said are keyed, for the list that follows.
    QSet<qint32> m_keyedNumbers;
    QVector<DirectoryProtocol::ServerEntry> m_servers;
    QString m_status;
    QString m_online;
    QString m_listed;
    // A directory message longer than the input buffer: its first piece was read, the
    // rest is skipped up to the terminator.
    bool m_skippingDirectory = false;
    bool m_skippingPal = false;

    // The directory server that the pal server goes with, as "host:port"; empty until
    // the first connection.
    QString m_palFollows;
    QString m_palHost;
    int m_palPort = DefaultPalPort;
    int m_palHomePort = DefaultPalPort;
    bool m_palMoved = false;
    bool m_palLoggedIn = false;
    // A check asked for while the pal connection was still opening starts once it is up.
    bool m_palCheckWanted = false;

    // Why nothing was sent to the server, until a connection succeeds.
    QString m_blockedText;

    QDateTime m_nextRefresh;
    bool m_refreshOnShow = false;
    bool m_windowVisible = false;
};
