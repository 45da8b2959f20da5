#pragma once

#include "core/PeerChannel.h"
#include "protocol/DirectoryProtocol.h"

#include <QObject>
#include <QString>

#include <optional>

class IPPort;
class PalList;
class QTimer;
struct Settings;

// The pal server client of one program: the user number the server assigns, the pal
// login, the pal checks every 45 seconds and the pal list's changes, and the path finding's
// texts and relay credentials passed on over the same connection. The pal server sits on the
// directory server's host until a "BSY" moves it; the root tells this which directory
// server is being reached (directoryConnecting).
class PalService : public QObject
{
    Q_OBJECT

public:
    struct Context
    {
        // The user's fields for the login, and the configured directory server.
        Settings &settings;
        PalList &pals;
        QString palFile;
        QString userNumberFile;
    };

    static constexpr int PalCheckMs = 45000;
    static constexpr int DefaultPalPort = 2015;
    // Room for a path offer with its description; the published texts are far shorter.
    static constexpr int PalInputBytes = DirectoryProtocol::MaxPathDescription + 1024;

    explicit PalService(Context context, QObject *parent = nullptr);

    IPPort &ippServerPal() { return *m_ippServerPal; }
    QTimer *tmrCheckPal() const { return m_tmrCheckPal; }
    // The port this program listens for calls on, as the login tells it.
    void setListenPort(int port) { m_listenPort = port; }
    // This installation's identity at the servers; -1 until the pal server assigns one.
    qint32 userNumber() const { return m_userNumber; }

    PalList &list();
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
    // Whether the directory window is shown: only then do the checks look the pals up.
    void setWindowVisible(bool visible) { m_windowVisible = visible; }

    // Start-up: the stored user number, the pal lists, the pal check timer.
    void start();
    // Shutdown: the connection closes, the timer stops.
    void shutdown();

    void connectPalServer();
    void startPalCheck();
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

public slots:
    // The directory client is reaching "host:port": the pal server goes along (unless it
    // already does) and is connected.
    void directoryConnecting(const QString &host, int port);
    // Connects when closed and, while the directory window is shown, checks the pals.
    void palCheckTick();
    // The user's data or the listening port changed: logged in again when logged in.
    void refreshLogin();
    // The server's new key was accepted: the connection is made again.
    void retryWithNewKey();

signals:
    // The pal lists are to be rebuilt from the pal list.
    void palsChanged();
    void informationRequested(const QString &text);
    void messageBoxRequested(const QString &title, const QString &text);
    // The pal server assigned this number; the pal login with it has been sent.
    void userNumberChanged(qint32 number);
    // What the pal server passed on for the path finding.
    void relayAccessChanged(const std::optional<DirectoryProtocol::RelayAccess> &relay);
    void callOfferArrived(const DirectoryProtocol::RelayedOffer &offer);
    void callAnswerArrived(const DirectoryProtocol::CallAnswer &answer);
    void callEndArrived(const DirectoryProtocol::CallEnd &end);
    // The pal connection closed: nothing more will be passed on over it.
    void pathServerLost();

private:
    void onPalConnected(int statusCode);
    void onPalData(const QByteArray &text, bool eol);
    void onPalMessage(const QByteArray &message);
    void onPalAnswer(const DirectoryProtocol::EmailAnswer &answer);
    void onPathMessage(const DirectoryProtocol::FromServer &message);
    void sendPalLogin();
    void lookUpPal(int k);
    int matchPal(const QString &email) const;
    bool addPalEntry(const QString &email);
    int dirPort() const;
    // The pal server goes with the directory server "host:port" unless it already does.
    void followDirectory(const QString &host, int port);

    Context m_;
    int m_listenPort = PortPlan::PublishedBase;
    qint32 m_userNumber = -1;
    IPPort *m_ippServerPal;
    QTimer *m_tmrCheckPal;
    // A pal message longer than the input buffer is skipped up to the terminator.
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
    bool m_windowVisible = false;
};
