#pragma once

#include "server/NumberStore.h"
#include "server/ServerConfig.h"
#include "server/UserRegistry.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

class IPDaemon;
class QTimer;

// The companion server: the directory protocol on one port and the pal protocol on
// another, both answered from one registry of who is on line. Every message is untrusted:
// lines are bounded, a client that never ends its line or never reads is dropped, and a
// login only ever changes the entry of its own connection.
class DirectoryServer : public QObject
{
    Q_OBJECT

public:
    // The longest line a client may send, and what may wait unsent for a slow reader
    // (a full list of 500 users fits several times).
    static constexpr int MaxLineBytes = 4096;
    static constexpr int MaxPendingOutput = 1024 * 1024;
    // Text fields of a login are kept to this many characters.
    static constexpr int MaxFieldChars = 64;
    // Connections beyond two per user: clients still logging in, or being turned away.
    static constexpr int SpareConnections = 64;
    // A connection that has not logged in within this time is closed: a client logs in
    // (or asks for its number first) as soon as it connects, so one that stays silent, or
    // drips its first line byte by byte, only holds a place another user may need.
    static constexpr int LoginDeadlineMs = 30000;

    explicit DirectoryServer(ServerConfig config, QObject *parent = nullptr);
    ~DirectoryServer() override;

    // Opens the number store and starts listening on both ports. False with a reason.
    bool start(QString *error);
    // Closes every connection and stops listening.
    void stop();

    // An operator notice to every directory client ("MSG").
    void broadcast(const QString &text);
    // Tests shorten the time a connection has to log in.
    void setLoginDeadline(int ms) { m_loginDeadlineMs = ms; }

    int directoryPort() const;
    int palPort() const;
    const UserRegistry &registry() const { return m_registry; }
    const NumberStore &numbers() const { return m_numbers; }

signals:
    // One line per login, logout and lookup, and for turned-away clients.
    void logLine(const QString &line);

private:
    void onData(UserRegistry::Channel channel, int id, const QByteArray &text, bool eol);
    void onConnected(UserRegistry::Channel channel, int id);
    void onDisconnected(UserRegistry::Channel channel, int id);
    void disarmLoginDeadline(UserRegistry::Key key);
    void onLogin(UserRegistry::Channel channel, int id, const QByteArray &text);
    void onEmailLookup(UserRegistry::Channel channel, int id, const QByteArray &text);
    void onNumberRequest(int id);
    void turnAway(UserRegistry::Channel channel, int id);
    void send(UserRegistry::Channel channel, int id, const QByteArray &text);
    IPDaemon &daemon(UserRegistry::Channel channel) const;
    QString who(UserRegistry::Channel channel, int id, const UserRegistry::User &user) const;

    ServerConfig m_config;
    IPDaemon *m_directory;
    IPDaemon *m_pal;
    UserRegistry m_registry;
    NumberStore m_numbers;
    // Pal connections that were already given a number: one per connection.
    QSet<int> m_numbered;
    // Connections that have not logged in yet, with the timer that closes them.
    QHash<UserRegistry::Key, QTimer *> m_loginDeadlines;
    int m_loginDeadlineMs = LoginDeadlineMs;
};
