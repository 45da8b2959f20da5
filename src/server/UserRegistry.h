#pragma once

#include "protocol/DirectoryProtocol.h"

#include <QByteArray>
#include <QHash>
#include <QMultiHash>
#include <QString>
#include <functional>
#include <map>
#include <optional>

// The users of this node, one entry per logged-in connection on either port, so a login
// can only ever change its own connection's entry. Users are counted once however many
// connections they hold (by user number; a connection without one counts alone).
class UserRegistry
{
public:
    // The connection's handle, unique for the life of the process.
    using Key = quint64;

    struct User
    {
        // What the list shows of this user; its address is the one the login came from.
        DirectoryProtocol::UserEntry entry;
        QString email; // lower case
        bool listed = false;
        // The number is bound to the key this login proved (the e-mail: `entry.Keyed`).
        bool numberKeyed = false;
        // Logged in on the pal port (else the directory port).
        bool pal = false;
    };

    // Registers the connection's entry, or replaces it on a repeated login.
    void login(Key key, const User &user);
    // The entry that left, if the connection had logged in.
    std::optional<User> logout(Key key);
    bool contains(Key key) const { return m_users.contains(key); }
    const User *user(Key key) const;
    // Whether a login on this connection would add one more user on line.
    bool wouldAdd(Key key, qint32 number) const;

    int online() const { return int(m_numbers.size()) + m_anonymous; }
    int listed() const { return int(m_listed.size()); }
    int connections() const { return int(m_users.size()); }
    // Logged-in connections on one port, whatever numbers they gave.
    int entries(bool pal) const { return pal ? m_palEntries : int(m_users.size()) - m_palEntries; }

    // The "LS1" answer, and the "LSK" note of its keyed users that goes before it to
    // clients of this version.
    struct ListAnswer
    {
        QByteArray keyedNote;
        QByteArray message;
    };
    // The counts and the first listed users in login order, kept until the next change so
    // that many clients asking at once cost one build. Users on this machine (a loopback
    // address) read as `loopbackHost` when it is not empty.
    const ListAnswer &listMessage(int maxEntries, const QString &loopbackHost = {});
    // The latest login with this (lower-case) e-mail, on either port.
    const User *findByEmail(const QString &email) const;
    // The connections logged in with this (lower-case) e-mail or this user number.
    QList<Key> holders(const QString &email, qint32 number) const;
    // The same as answered to a client: its address made reachable with `loopbackHost`.
    std::optional<User> answerByEmail(const QString &email, const QString &loopbackHost) const;
    // Every entry, in login order.
    void forEach(const std::function<void(Key, const User &)> &visit) const;

    // Whether a client at this address is on the node's own machine.
    static bool isLoopback(const QString &address);
    // A user's address as answered: one on the node's own machine (loopback) becomes
    // `loopbackHost` when that is not empty, so that a client elsewhere can reach it.
    static QString answeredAddress(const QString &address, const QString &loopbackHost);
    // A user as the list shows them, at that address.
    static DirectoryProtocol::UserEntry listEntry(const User &user, const QString &address);

private:
    struct Slot
    {
        User user;
        quint64 serial = 0;
    };
    static bool numbered(qint32 number);
    void forget(Key key, const Slot &slot);

    QHash<Key, Slot> m_users;
    QHash<qint32, int> m_numbers; // user number -> connections holding it
    int m_anonymous = 0;
    int m_palEntries = 0;
    std::map<quint64, Key> m_listed; // login serial -> connection, for the list order
    QMultiHash<QString, Key> m_byEmail;
    QMultiHash<qint32, Key> m_byNumber;
    quint64 m_nextSerial = 1;
    // The list as built for each loopback host asked with (a node has few addresses).
    QHash<QString, ListAnswer> m_lists;
};
