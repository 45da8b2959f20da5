#include "server/UserRegistry.h"

#include "protocol/DirectoryProtocol.h"

#include <QHostAddress>

#include <algorithm>
#include <vector>

bool UserRegistry::numbered(qint32 number)
{
    return number >= DirectoryProtocol::FirstUserNumber && number <= DirectoryProtocol::LastUserNumber;
}

void UserRegistry::login(Key key, const User &user)
{
    quint64 serial = m_nextSerial++;
    if (auto it = m_users.find(key); it != m_users.end()) {
        serial = it->serial; // an update keeps its place in the list
        forget(key, *it);
        m_users.erase(it);
    }
    m_users.insert(key, Slot{user, serial});
    if (user.pal)
        ++m_palEntries;
    if (numbered(user.entry.UserNumber)) {
        ++m_numbers[user.entry.UserNumber];
        m_byNumber.insert(user.entry.UserNumber, key);
    } else
        ++m_anonymous;
    if (user.listed)
        m_listed.emplace(serial, key);
    if (!user.email.isEmpty())
        m_byEmail.insert(user.email, key);
    m_lists.clear();
}

std::optional<UserRegistry::User> UserRegistry::logout(Key key)
{
    const auto it = m_users.find(key);
    if (it == m_users.end())
        return std::nullopt;
    User user = it->user;
    forget(key, *it);
    m_users.erase(it);
    m_lists.clear();
    return user;
}

void UserRegistry::forget(Key key, const Slot &slot)
{
    const User &user = slot.user;
    if (user.pal)
        --m_palEntries;
    if (numbered(user.entry.UserNumber)) {
        auto n = m_numbers.find(user.entry.UserNumber);
        if (n != m_numbers.end() && --n.value() <= 0)
            m_numbers.erase(n);
        m_byNumber.remove(user.entry.UserNumber, key);
    } else {
        --m_anonymous;
    }
    if (user.listed)
        m_listed.erase(slot.serial);
    if (!user.email.isEmpty())
        m_byEmail.remove(user.email, key);
}

const UserRegistry::User *UserRegistry::user(Key key) const
{
    const auto it = m_users.constFind(key);
    return it == m_users.constEnd() ? nullptr : &it->user;
}

bool UserRegistry::wouldAdd(Key key, qint32 number) const
{
    if (m_users.contains(key))
        return false;
    return !(numbered(number) && m_numbers.contains(number));
}

const UserRegistry::ListAnswer &UserRegistry::listMessage(int maxEntries, const QString &loopbackHost)
{
    if (const auto cached = m_lists.constFind(loopbackHost); cached != m_lists.constEnd())
        return *cached;
    // Only a handful of addresses ever reach a node; anything beyond is built again.
    if (m_lists.size() >= 8)
        m_lists.clear();
    QVector<DirectoryProtocol::UserEntry> entries;
    entries.reserve(qMin<qsizetype>(maxEntries, m_listed.size()));
    for (const auto &[serial, key] : m_listed) {
        if (entries.size() >= maxEntries)
            break;
        const User &u = m_users.value(key).user;
        entries.append(listEntry(u, answeredAddress(u.entry.Address, loopbackHost)));
    }
    return *m_lists.insert(loopbackHost, ListAnswer{DirectoryProtocol::keyedUsers(entries),
                                                    DirectoryProtocol::userList(online(), listed(), entries)});
}

const UserRegistry::User *UserRegistry::findByEmail(const QString &email) const
{
    if (email.isEmpty())
        return nullptr;
    const auto it = m_byEmail.constFind(email);
    return it == m_byEmail.constEnd() ? nullptr : user(it.value());
}

QList<UserRegistry::Key> UserRegistry::holders(const QString &email, qint32 number) const
{
    QList<Key> keys = email.isEmpty() ? QList<Key>() : m_byEmail.values(email);
    if (numbered(number)) {
        for (auto it = m_byNumber.constFind(number); it != m_byNumber.constEnd() && it.key() == number; ++it) {
            if (!keys.contains(it.value()))
                keys.append(it.value());
        }
    }
    return keys;
}

std::optional<UserRegistry::User> UserRegistry::answerByEmail(const QString &email, const QString &loopbackHost) const
{
    const User *found = findByEmail(email);
    if (!found)
        return std::nullopt;
    User user = *found;
    user.entry.Address = answeredAddress(user.entry.Address, loopbackHost);
    return user;
}

DirectoryProtocol::UserEntry UserRegistry::listEntry(const User &u, const QString &address)
{
    DirectoryProtocol::UserEntry e = u.entry;
    e.Address = address;
    e.State = 1; // on line and taking calls
    return e;
}

void UserRegistry::forEach(const std::function<void(Key, const User &)> &visit) const
{
    std::vector<std::pair<quint64, Key>> order;
    order.reserve(size_t(m_users.size()));
    for (auto it = m_users.constBegin(); it != m_users.constEnd(); ++it)
        order.emplace_back(it->serial, it.key());
    std::sort(order.begin(), order.end());
    for (const auto &[serial, key] : order)
        visit(key, m_users.value(key).user);
}

bool UserRegistry::isLoopback(const QString &address)
{
    return QHostAddress(address).isLoopback();
}

QString UserRegistry::answeredAddress(const QString &address, const QString &loopbackHost)
{
    return !loopbackHost.isEmpty() && isLoopback(address) ? loopbackHost : address;
}
