#pragma once

#include "core/PeerChannel.h"
#include "protocol/DirectoryProtocol.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVector>

#include <functional>

class AudioControl;
class CaptureControl;
class IPPort;
class PalList;
class QTimer;
struct Settings;

// The directory server client of one program: login, user list, server list, notices,
// redirects, e-mail lookups for call control, and the directory window's actions. The pal
// server client is PalService; the root tells it where this connects (connecting) and when
// an activation wants the pals checked (palCheckDue). The window only shows what this says
// and forwards clicks.
class DirectoryService : public QObject
{
    Q_OBJECT

public:
    struct Context
    {
        Settings &settings;
        // The address box calls and messages a selected pal too.
        const PalList &pals;
        // The login says whether this user has a camera and sound.
        const CaptureControl &capture;
        const AudioControl &audio;
        // The number the pal server assigned, -1 for none yet; the login carries it.
        std::function<qint32()> userNumber;
    };

    static constexpr int DefaultDirectoryPort = 2010;
    // Room for a full list of 500 users with long fields; a longer message is cut there.
    static constexpr int DirectoryInputBytes = 512 * 1024;
    // A directory server that has taken a request (notice, list, e-mail lookup) and sent
    // nothing at all for this long is given up: the connection closes, so the next window
    // activation or server choice connects again.
    static constexpr int AnswerWaitMs = 20000;

    explicit DirectoryService(Context context, QObject *parent = nullptr);

    IPPort &ippServer() { return *m_ippServer; }
    // Tests shorten the wait for the directory's answers.
    void setAnswerWait(int ms);
    // The port this program listens for calls on, as the login tells it.
    void setListenPort(int port) { m_listenPort = port; }

    // The directory entry table and the server list, numbered from 1 by their users.
    const QVector<DirectoryProtocol::UserEntry> &entries() const { return m_entries; }
    const DirectoryProtocol::UserEntry *entry(int k) const;
    const QVector<DirectoryProtocol::ServerEntry> &servers() const { return m_servers; }
    // The status bar: the status text and the two counts.
    QString statusText() const { return m_status; }
    QString onlineText() const { return m_online; }
    QString listedText() const { return m_listed; }

    // The small picture of a listed user, 1 to 9.
    static int iconNumber(const DirectoryProtocol::UserEntry &entry);
    // The configured directory server as "host:port", and a server list item's text.
    QString directoryText() const;
    static QString serverItemText(const DirectoryProtocol::ServerEntry &server);
    // Where a listed user or pal is, as the address box takes it: "host:port".
    static QString addressText(const QString &host, int port);

    // Start-up: the connection may open.
    void start();
    // Shutdown: the connection closes.
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
    // The redirect prompt's "Yes": its address text, "host:port".
    void acceptRedirect(const QString &address);

    // ---- Calls and messages ----
    // cmdCall: the address box's text; when it still holds the address of the selected
    // user (entry) or pal, that one is called on its own port.
    void call(const QString &address, int entry, int pal);
    void callEntry(int k);
    void callPal(int k);
    // cmdSendMsg with the selected user (entry) or pal, 0 for none.
    void sendMessage(int entry, int pal);

public slots:
    // The user's personal data changed: log in again on the open connection, connecting
    // when it is closed.
    void loginAgain();
    // The port others reach this program at, or the user number, changed: the open
    // connection logs in again.
    void refreshLogin();
    // The directory address changed: the connection to the old server closes; the login
    // that follows connects to the new one.
    void closeDirectory();
    // Closes the directory connection and connects to the configured server again.
    void reconnectDirectory();
    // The connection's security layer sent nothing to the server and says why; the status
    // says so until a connection succeeds.
    void connectionBlocked(const QString &text);
    // The server's new key was accepted: the connection is made again.
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
    // Connecting to the directory server "host:port" (trimmed): the pal server goes along.
    void connecting(const QString &host, int port);
    // The window's activation or refresh: the pals are to be checked.
    void palCheckDue();
    void informationRequested(const QString &text);
    void messageBoxRequested(const QString &title, const QString &text);
    void redirectOffered(const QString &host, int port, const QString &description);
    // Open a compose window for this recipient.
    void sendMessageRequested(const QString &name, const QString &location, const QString &address, int port,
                              qint32 userNumber);
    void privacyChanged(bool encrypted);
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
    void sendDirectoryLogin();
    int dirPort() const;

    Context m_;
    int m_listenPort = PortPlan::PublishedBase;
    IPPort *m_ippServer;
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

    // Why nothing was sent to the server, until a connection succeeds.
    QString m_blockedText;

    QDateTime m_nextRefresh;
    bool m_refreshOnShow = false;
};
